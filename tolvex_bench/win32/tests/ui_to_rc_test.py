#!/usr/bin/env python3
"""The dialog templates ui_to_rc.py makes from the bench's forms."""
import os
import re
import struct
import subprocess
import sys
import tempfile
import unittest
import xml.etree.ElementTree as ET

HERE = os.path.dirname(os.path.abspath(__file__))
GENERATOR = os.path.join(HERE, "..", "ui_to_rc.py")
UI = os.path.join(HERE, "..", "..", "ui")
FORMS = ["tolvex_bench_dlg", "setting_page", "ms_page", "classic_mifare_page", "aging_page", "about_dlg"]
STATIC = ("LTEXT", "RTEXT", "CTEXT")
BOXES = {"QLineEdit": "EDITTEXT", "QPlainTextEdit": "EDITTEXT", "QComboBox": "COMBOBOX"}

sys.path.insert(0, os.path.dirname(GENERATOR))
import ui_to_rc  # noqa: E402


def widgets(form):
    """The form's class and its widgets, each with the Qt class it is or extends as `kind`."""
    root = ET.parse(os.path.join(UI, form + ".ui")).getroot()
    extends = {c.findtext("class"): c.findtext("extends") for c in root.iter("customwidget")}
    for w in root.iter("widget"):
        w.set("kind", extends.get(w.get("class"), w.get("class")))
    return root.findtext("class"), list(root.find("widget").iter("widget"))[1:]


def prop_text(widget, name):
    prop = widget.find(f"property[@name='{name}']")
    if prop is None:
        return None
    value = prop.find("string")
    if value is None:
        value = prop.find("cstring")
    return value.text if value is not None else None


class Templates(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.folder = tempfile.TemporaryDirectory()
        out = cls.folder.name
        cls.rc, cls.header = os.path.join(out, "d.rc"), os.path.join(out, "ids.h")
        png = os.path.join(UI, "resources", "tolvex_bench.png")
        cls.ico = os.path.join(out, "b.ico")
        cls.names = os.path.join(out, "n.inc")
        subprocess.run([sys.executable, GENERATOR, "--rc", cls.rc, "--header", cls.header, "--limits",
                        os.path.join(out, "l.inc"), "--names", cls.names, "--ico", png, cls.ico]
                       + [os.path.join(UI, f + ".ui") for f in FORMS], check=True)
        cls.dialogs = {}
        current = None
        with open(cls.rc, encoding="utf-8") as f:
            for line in f:
                head = re.match(r"IDD_(\w+) DIALOGEX", line)
                if head:
                    current = cls.dialogs.setdefault(head.group(1), [])
                elif current is not None and line.startswith("    "):
                    current.append(line.strip())

    @classmethod
    def tearDownClass(cls):
        cls.folder.cleanup()

    def line_of(self, form, name):
        for i, line in enumerate(self.dialogs[form]):
            if re.search(rf"\bIDC_{name}\b", line):
                return i
        self.fail(f"{form}: no control IDC_{name}")

    def test_every_box_follows_the_label_that_names_it(self):
        for file in FORMS:
            form, ws = widgets(file)
            lines = self.dialogs[form]
            buddies = {prop_text(w, "buddy"): w for w in ws if w.get("class") == "QLabel" and prop_text(w, "buddy")}
            for w in ws:
                if w.get("kind") not in BOXES:
                    continue
                with self.subTest(form=form, box=w.get("name")):
                    i = self.line_of(form, w.get("name"))
                    self.assertTrue(lines[i].startswith(BOXES[w.get("kind")]), lines[i])
                    self.assertGreater(i, 0)
                    before = lines[i - 1]
                    self.assertTrue(before.startswith(STATIC), before)
                    if w.get("name") in buddies:
                        label = buddies[w.get("name")]
                        self.assertIn(f"IDC_{label.get('name')},", before)
                    elif prop_text(w, "accessibleName"):
                        self.assertIn(ui_to_rc.quoted(prop_text(w, "accessibleName")), before)

    def table(self):
        """The names table: {form: [(name, role, text, tab)]} in the table's order."""
        rows = {}
        row = re.compile(r'\{IDD_(\w+), IDC_(\w+), Role::(\w+), L"((?:[^"\\]|\\.)*)", (-?\d+)\},')
        with open(self.names, encoding="utf-8") as f:
            for line in f:
                m = row.search(line)
                if m:
                    rows.setdefault(m.group(1), []).append((m.group(2), m.group(3), m.group(4), int(m.group(5))))
        return rows

    def test_the_names_table_names_every_box_button_and_group_as_the_form_does(self):
        table = self.table()
        roles = {"QPushButton": "text", "QCheckBox": "text", "QRadioButton": "text", "QGroupBox": "group",
                 **{kind: "box" for kind in BOXES}}
        for file in FORMS:
            form, ws = widgets(file)
            rows = {name: (role, text) for name, role, text, _ in table.get(form, [])}
            buddies = {prop_text(w, "buddy"): w for w in ws if w.get("class") == "QLabel" and prop_text(w, "buddy")}
            for w in ws:
                if w.get("kind") not in roles:
                    continue
                name = w.get("name")
                with self.subTest(form=form, control=name):
                    self.assertIn(name, rows)
                    role, text = rows[name]
                    self.assertEqual(role, roles[w.get("kind")])
                    self.assertTrue(text)
                    if role == "group":
                        want = prop_text(w, "title")
                    elif role == "text":
                        want = prop_text(w, "text") or prop_text(w, "accessibleName")
                    elif name in buddies:
                        want = prop_text(buddies[name], "text")
                    else:
                        want = prop_text(w, "accessibleName") or text
                    self.assertEqual(ui_to_rc.quoted(want)[1:-1], text)
                    # The template shows the same text (buttons) or a label with it just before (boxes).
                    i = self.line_of(form, name)
                    shown = self.dialogs[form][i if role != "box" else i - 1]
                    self.assertIn(f'"{text}"', shown)
                    if w.get("kind") == "QCheckBox" and not prop_text(w, "text"):
                        # Named but showing only its box.
                        width = int(re.search(rf"IDC_{name}, \d+, \d+, (\d+),", shown).group(1))
                        self.assertLessEqual(width, ui_to_rc.BOX_ONLY)

    def test_tab_order_is_the_templates_order_and_reads_the_layout(self):
        table = self.table()
        for file in FORMS:
            form, ws = widgets(file)
            geometry = {}
            parents = {}
            for parent in [ET.parse(os.path.join(UI, file + ".ui")).getroot().find("widget"), *ws]:
                for child in parent.findall("widget"):
                    parents[child.get("name")] = parent.get("name")
                    rect = child.find("property[@name='geometry']/rect")
                    if rect is not None:
                        geometry[child.get("name")] = (int(rect.findtext("y")), int(rect.findtext("x")))
            stops = sorted((tab, self.line_of(form, name), name) for name, _, _, tab in table.get(form, [])
                           if tab >= 0)
            with self.subTest(form=form):
                self.assertEqual([tab for tab, _, _ in stops], list(range(len(stops))))
                self.assertEqual([line for _, line, _ in stops], sorted(line for _, line, _ in stops))
            # Within one container, no stop comes after one in a lower row.
            for (_, _, a), (_, _, b) in zip(stops, stops[1:]):
                if parents[a] == parents[b]:
                    with self.subTest(form=form, first=a, then=b):
                        self.assertGreater(geometry[b][0] - geometry[a][0], -ui_to_rc.ROW)

    def test_every_label_is_a_control_the_page_can_fill(self):
        for file in FORMS:
            form, ws = widgets(file)
            for w in ws:
                if w.get("class") != "QLabel" or w.get("name") == "labelIcon":
                    continue
                with self.subTest(form=form, label=w.get("name")):
                    line = self.dialogs[form][self.line_of(form, w.get("name"))]
                    self.assertTrue(line.startswith(STATIC), line)
                    self.assertIn(ui_to_rc.quoted(prop_text(w, "text") or ""), line)

    def test_upper_case_boxes_are_the_forms_own(self):
        for form, names in ui_to_rc.UPPER_CASE.items():
            for name in names:
                with self.subTest(form=form, box=name):
                    line = self.dialogs[form][self.line_of(form, name)]
                    self.assertIn("ES_UPPERCASE", line)
        typed = 0
        for file in FORMS:
            form, ws = widgets(file)
            for w in ws:
                if w.get("class") in ui_to_rc.UPPER_CASE_CLASSES:
                    typed += 1
                    with self.subTest(form=form, box=w.get("name")):
                        self.assertIn("ES_UPPERCASE", self.dialogs[form][self.line_of(form, w.get("name"))])
        self.assertGreater(typed, 0)
        upper = sum(line.count("ES_UPPERCASE") for lines in self.dialogs.values() for line in lines)
        self.assertEqual(upper, typed + sum(len(names) for names in ui_to_rc.UPPER_CASE.values()))

    def test_each_run_of_radio_buttons_is_one_group(self):
        for form, lines in self.dialogs.items():
            previous_radio = False
            for line in lines:
                if line.startswith(STATIC + ("GROUPBOX", "CONTROL", "ICON")):
                    continue
                radio = line.startswith("AUTORADIOBUTTON")
                with self.subTest(form=form, line=line):
                    self.assertEqual("WS_GROUP" in line, not (radio and previous_radio))
                previous_radio = radio

    def test_a_widget_without_a_control_is_refused(self):
        form = os.path.join(self.folder.name, "odd.ui")
        with open(form, "w", encoding="utf-8") as f:
            f.write('<ui version="4.0"><class>X</class><widget class="QWidget" name="X">'
                    '<widget class="QDial" name="dial"/></widget></ui>')
        run = subprocess.run([sys.executable, GENERATOR, "--rc", form + ".rc", "--header", form + ".h", "--limits",
                              form + ".inc", form], capture_output=True, text=True)
        self.assertNotEqual(run.returncode, 0)
        self.assertIn("QDial", run.stderr)

    def test_ids_are_defined_once_and_texts_kept(self):
        with open(self.header, encoding="utf-8") as f:
            defines = re.findall(r"#define (\w+) (\S+)", f.read())
        names = [n for n, _ in defines]
        values = [v for n, v in defines if n.startswith(("IDC_", "IDD_"))]
        self.assertEqual(len(names), len(set(names)))
        self.assertEqual(len(values), len(set(values)))
        used = {m for lines in self.dialogs.values() for line in lines for m in re.findall(r"\bID[CD]_\w+", line)}
        self.assertLessEqual(used - {"IDC_STATIC"}, set(names))
        with open(self.rc, encoding="utf-8") as f:
            rc = f.read()
        for text in ["년", "월", "일", "시", "분", "tolvex_bench 정보", "확인", "&View:"]:
            self.assertIn(text, rc)

    def test_the_icon_wraps_the_png(self):
        with open(self.ico, "rb") as f:
            data = f.read()
        reserved, kind, count = struct.unpack("<HHH", data[:6])
        width, height, _, _, planes, bits, size, offset = struct.unpack("<BBBBHHII", data[6:22])
        self.assertEqual((reserved, kind, count, width, height, planes, bits), (0, 1, 1, 64, 64, 1, 32))
        self.assertEqual(data[offset:offset + 8], b"\x89PNG\r\n\x1a\n")
        self.assertEqual(offset + size, len(data))


if __name__ == "__main__":
    unittest.main()
