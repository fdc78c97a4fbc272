#!/usr/bin/env python3
"""Dialog templates for the Win32 bench from the Qt forms, so the layout has one source.

    ui_to_rc.py --rc OUT.rc --header OUT.h --limits OUT.inc [--names OUT.inc] FORM.ui...
    ui_to_rc.py --ico IN.png OUT.ico

The forms give every geometry in dialog units. Each form becomes a DIALOGEX template in
"MS Shell Dlg" 9 pt; each widget a control whose ID is IDC_<objectName> (the same name in
two forms gets the same ID). Controls come in reading order (rows top to bottom, left to
right within a row, containers before what they hold), and every edit and list follows
the static label that names it: its buddy label, else the nearest label on its left or
above, else a hidden label carrying its accessible name (a screen reader names a box from the
static right before it, shown or not). A check box with neither text nor label
carries its accessible name as its text, its width cut to the box alone. The names table lists, per
dialog, each control a screen reader names with the name it should get and its place in
the tab order, for the tests that read the names back. The ICO wraps the PNG as is.
"""
import argparse
import struct
import sys
import xml.etree.ElementTree as ET

# Boxes the Qt pages force to capitals through a validator (the upper-case edit class
# of the forms says so itself).
UPPER_CASE = {
    "CMsDlg": {"editCLA", "editINS", "editP1", "editP2", "editLc", "editLe"},
    "CClassicMifare": {"editKeyA", "editKeyB", "editAccess", "editInput", "editUlInput"},
    "CAging": {"editIcInput", "editRfInput"},
}
# Child-dialog pages; the other forms are top-level windows.
PAGES = {"CSetting", "CMsDlg", "CClassicMifare", "CAging"}
# Boxes that are named by a label (edits and lists).
NAMED = {"QLineEdit", "QPlainTextEdit", "QTextEdit", "QComboBox", "QListWidget"}
CONTAINERS = {"QGroupBox", "QFrame", "QWidget"}
ROW = 6  # tops closer than this (dialog units) share a reading row
COMBO_LIST = 96  # height of a drop-down list's box with its list open
BOX_ONLY = 9  # width of a check box that shows its box and none of its text


# Widget classes of the forms' own, by what they become; the upper-case edits also force capitals.
UPPER_CASE_CLASSES = {"tolvex::bench::ui::UpperCaseTextEdit"}
KNOWN = {"QPushButton", "QCheckBox", "QRadioButton", "QLineEdit", "QPlainTextEdit", "QTextEdit", "QComboBox",
         "QLabel", "QGroupBox", "QFrame", "QWidget", "QProgressBar", "CMyTabCtrl"}


class Widget:
    def __init__(self, element, ox, oy, parent, extends):
        self.written_cls = element.get("class")
        self.cls = self.written_cls if self.written_cls in KNOWN else extends.get(self.written_cls, self.written_cls)
        if self.cls not in KNOWN and parent is not None:
            raise SystemExit(f"ui_to_rc.py: {element.get('name')}: no control for class {self.written_cls}")
        self.name = element.get("name")
        self.parent = parent
        self.props = {}
        for prop in element.findall("property"):
            self.props[prop.get("name")] = prop
        x = y = w = h = 0
        geometry = self.props.get("geometry")
        if geometry is not None:
            rect = geometry.find("rect")
            x, y, w, h = (int(rect.find(k).text) for k in ("x", "y", "width", "height"))
        self.x, self.y, self.w, self.h = x + ox, y + oy, w, h
        self.children = [Widget(child, self.x, self.y, self, extends) for child in element.findall("widget")]

    def text(self, name):
        prop = self.props.get(name)
        if prop is None:
            return None
        value = prop.find("string")
        if value is None:
            value = prop.find("cstring")
        return (value.text or "") if value is not None else None

    def flag(self, name, default=False):
        prop = self.props.get(name)
        if prop is None or prop.find("bool") is None:
            return default
        return prop.find("bool").text == "true"

    def enum(self, name):
        prop = self.props.get(name)
        if prop is None:
            return ""
        value = prop.find("enum")
        if value is None:
            value = prop.find("set")
        return value.text if value is not None else ""


def quoted(text):
    return '"' + text.replace("\\", "\\\\").replace('"', '""').replace("\n", "\\n") + '"'


def reading_order(widgets):
    rows = []
    for w in sorted(widgets, key=lambda w: (w.y, w.x)):
        if rows and w.y - rows[-1][0].y < ROW:
            rows[-1].append(w)
        else:
            rows.append([w])
    return [w for row in rows for w in sorted(row, key=lambda w: w.x)]


def find_labels(root):
    """Maps each named box to the label that names it."""
    everything = []

    def walk(w):
        for c in w.children:
            everything.append(c)
            walk(c)

    walk(root)
    labels = [w for w in everything if w.cls == "QLabel" and w.text("text")]
    boxes = [w for w in everything if w.cls in NAMED]
    by_name = {w.name: w for w in everything}
    named, taken = {}, set()
    for label in labels:
        buddy = label.text("buddy")
        if buddy in by_name and by_name[buddy].cls in NAMED:
            named[buddy] = label
            taken.add(label.name)
    for box in boxes:
        if box.name in named or box.text("accessibleName"):
            continue
        free = [l for l in labels if l.name not in taken and l.parent is box.parent]
        left = [l for l in free if l.x + l.w <= box.x + 2 and l.y < box.y + box.h and box.y < l.y + l.h]
        above = [l for l in free if l.y + l.h <= box.y + 2 and l.x < box.x + box.w and box.x < l.x + l.w
                 and box.y - (l.y + l.h) < 16]
        pick = max(left, key=lambda l: l.x + l.w, default=None) or max(above, key=lambda l: l.y, default=None)
        if pick is not None:
            named[box.name] = pick
            taken.add(pick.name)
    return named


def control_lines(form, root, ids):
    named = find_labels(root)
    deferred = {label.name for label in named.values()}
    upper = UPPER_CASE.get(form, set())
    lines = []
    previous_radio = [False]

    def emit(kind, w, style):
        radio = w.cls == "QRadioButton"
        styles = list(style)
        # Each run of radio buttons is a group; every other control starts one of its own.
        if not radio or not previous_radio[0]:
            styles.append("WS_GROUP")
        previous_radio[0] = radio
        if not w.flag("enabled", True):
            styles.append("WS_DISABLED")
        lines.append((kind, w, styles))

    def label_line(label, w=None):
        text = label.text("text")
        align = label.enum("alignment")
        kind = "RTEXT" if "AlignRight" in align else "CTEXT" if "AlignHCenter" in align else "LTEXT"
        lines.append((kind, label, []))

    def visit(w):
        cls = w.cls
        if cls in NAMED:
            label = named.get(w.name)
            if label is not None:
                label_line(label)
            elif w.text("accessibleName"):
                lines.append(("HIDDEN", w, []))
        if cls == "QLabel":
            if w.name in deferred:
                return
            if not w.text("text") and w.name == "labelIcon":
                lines.append(("ICON", w, []))
            else:
                # A label without text is one a page fills (a hint, a result).
                label_line(w)
            return
        if cls == "QPushButton":
            emit("DEFPUSHBUTTON" if w.flag("default") else "PUSHBUTTON", w, [])
        elif cls == "QCheckBox":
            emit("AUTOCHECKBOX", w, [])
        elif cls == "QRadioButton":
            emit("AUTORADIOBUTTON", w, ["WS_TABSTOP"])
        elif cls == "QLineEdit":
            style = ["ES_AUTOHSCROLL"]
            if w.flag("readOnly"):
                style.append("ES_READONLY")
            if w.name in upper:
                style.append("ES_UPPERCASE")
            emit("EDITTEXT", w, style)
        elif cls in ("QPlainTextEdit", "QTextEdit"):
            style = ["ES_MULTILINE", "ES_AUTOVSCROLL", "WS_VSCROLL", "ES_WANTRETURN"]
            if w.flag("readOnly"):
                style.append("ES_READONLY")
            if w.written_cls in UPPER_CASE_CLASSES:
                style.append("ES_UPPERCASE")
            emit("EDITTEXT", w, style)
        elif cls == "QComboBox":
            emit("COMBOBOX", w, ["CBS_DROPDOWNLIST", "WS_VSCROLL", "WS_TABSTOP"])
        elif cls == "QProgressBar":
            emit("PROGRESS", w, ["WS_BORDER"])
        elif cls == "CMyTabCtrl":
            emit("TAB", w, ["WS_TABSTOP", "WS_CLIPCHILDREN"])
        elif cls == "QGroupBox":
            lines.append(("GROUPBOX", w, []))
        elif cls == "QFrame" and w.name == "framePlot":
            lines.append(("PLOT", w, []))
        elif cls == "QFrame" and w.enum("frameShape") in ("QFrame::Box", "QFrame::Panel", "QFrame::StyledPanel"):
            lines.append(("FRAME", w, []))
        if cls in CONTAINERS:
            for child in reading_order(w.children):
                visit(child)

    for child in reading_order(root.children):
        visit(child)

    return render(lines, ids), names(lines, named)


# What each control's name comes from, as the names table says it.
ROLE_BOX, ROLE_TEXT, ROLE_GROUP, ROLE_STOP = "box", "text", "group", "stop"
TAB_STOPS = {"EDITTEXT", "COMBOBOX", "PUSHBUTTON", "DEFPUSHBUTTON", "AUTOCHECKBOX", "AUTORADIOBUTTON", "TAB"}


def names(lines, named):
    """(role, widget, name as written with its mnemonic, place in the tab order or -1) per named control."""
    rows, stop = [], 0
    for kind, w, styles in lines:
        tab = -1
        if kind in TAB_STOPS:
            tab, stop = stop, stop + 1
        if kind in ("EDITTEXT", "COMBOBOX"):
            label = named.get(w.name)
            rows.append((ROLE_BOX, w, label.text("text") if label is not None else w.text("accessibleName"), tab))
        elif kind in ("PUSHBUTTON", "DEFPUSHBUTTON", "AUTOCHECKBOX", "AUTORADIOBUTTON"):
            rows.append((ROLE_TEXT, w, button_text(w), tab))
        elif kind == "GROUPBOX":
            rows.append((ROLE_GROUP, w, w.text("title") or "", tab))
        elif kind == "TAB":
            rows.append((ROLE_STOP, w, "", tab))
    return rows


def button_text(w):
    return w.text("text") or w.text("accessibleName") or ""


def render(lines, ids):
    def ident(w):
        ids.setdefault(w.name, None)
        return "IDC_" + w.name

    def geometry(w, h=None):
        return f"{w.x}, {w.y}, {w.w}, {w.h if h is None else h}"

    out = []
    for kind, w, styles in lines:
        extra = (", " + " | ".join(styles)) if styles else ""
        if kind in ("LTEXT", "RTEXT", "CTEXT"):
            out.append(f"    {kind} {quoted(w.text('text') or '')}, {ident(w)}, {geometry(w)}{extra}")
        elif kind == "HIDDEN":
            out.append(f"    LTEXT {quoted(w.text('accessibleName'))}, IDC_STATIC, {geometry(w)}, NOT WS_VISIBLE")
        elif kind == "ICON":
            out.append(f"    ICON IDI_TOLVEX_BENCH, {ident(w)}, {w.x}, {w.y}, 0, 0")
        elif kind in ("PUSHBUTTON", "DEFPUSHBUTTON", "AUTOCHECKBOX", "AUTORADIOBUTTON"):
            if kind == "AUTOCHECKBOX" and not w.text("text"):
                # Only the box shows: its name, the accessible name, is cut off whole.
                out.append(f"    {kind} {quoted(button_text(w))}, {ident(w)}, {w.x}, {w.y}, "
                           f"{min(w.w, BOX_ONLY)}, {w.h}{extra}")
            else:
                out.append(f"    {kind} {quoted(button_text(w))}, {ident(w)}, {geometry(w)}{extra}")
        elif kind == "EDITTEXT":
            out.append(f"    EDITTEXT {ident(w)}, {geometry(w)}{extra}")
        elif kind == "COMBOBOX":
            out.append(f"    COMBOBOX {ident(w)}, {geometry(w, max(w.h, COMBO_LIST))}{extra}")
        elif kind == "PROGRESS":
            out.append(f'    CONTROL "", {ident(w)}, "msctls_progress32"{extra}, {geometry(w)}')
        elif kind == "TAB":
            out.append(f'    CONTROL "", {ident(w)}, "SysTabControl32"{extra}, {geometry(w)}')
        elif kind == "GROUPBOX":
            out.append(f"    GROUPBOX {quoted(w.text('title') or '')}, {ident(w)}, {geometry(w)}")
        elif kind == "PLOT":
            # Painted by its page (WM_DRAWITEM).
            out.append(f'    CONTROL "", {ident(w)}, "Static", SS_OWNERDRAW, {geometry(w)}')
        elif kind == "FRAME":
            out.append(f'    CONTROL "", {ident(w)}, "Static", SS_ETCHEDFRAME, {geometry(w)}')
    return out


def limits(root):
    found = []

    def walk(w):
        for c in w.children:
            prop = c.props.get("maxLength")
            if prop is not None and prop.find("number") is not None:
                found.append((c.name, int(prop.find("number").text)))
            walk(c)

    walk(root)
    return found


def generate(forms, rc_path, header_path, limits_path, names_path=None):
    ids = {}
    dialogs = []
    limit_rows = []
    name_rows = []
    for path in forms:
        tree = ET.parse(path)
        form = tree.getroot().findtext("class")
        extends = {c.findtext("class"): c.findtext("extends") for c in tree.getroot().iter("customwidget")}
        root = Widget(tree.getroot().find("widget"), 0, 0, None, extends)
        root.x = root.y = 0
        body, named = control_lines(form, root, ids)
        name_rows += [f"    {{IDD_{form}, IDC_{w.name}, Role::{role}, L{quoted(text)}, {tab}}},"
                      for role, w, text, tab in named]
        title = root.text("windowTitle")
        if form in PAGES:
            head = ["STYLE DS_CONTROL | WS_CHILD | DS_SHELLFONT"]
        elif form == "CTolvexBenchDlg":
            head = ["STYLE DS_SHELLFONT | DS_CENTER | WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX",
                    f"CAPTION {quoted(title or '')}"]
        else:
            head = ["STYLE DS_SHELLFONT | DS_MODALFRAME | DS_CENTER | WS_POPUP | WS_CAPTION | WS_SYSMENU",
                    f"CAPTION {quoted(title or '')}"]
        dialogs.append([f"IDD_{form} DIALOGEX 0, 0, {root.w}, {root.h}", *head,
                        'FONT 9, "MS Shell Dlg", 400, 0, 0x1', "BEGIN", *body, "END", ""])
        limit_rows += [f"    {{IDD_{form}, IDC_{name}, {n}}}," for name, n in limits(root)]

    header = ["// Generated by ui_to_rc.py from the bench's forms: dialog and control IDs.", "#pragma once", "",
              "#ifndef IDC_STATIC", "#define IDC_STATIC (-1)", "#endif", "#define IDI_TOLVEX_BENCH 1", ""]
    forms_seen = [d[0].split()[0] for d in dialogs]
    header += [f"#define {name} {100 + i}" for i, name in enumerate(forms_seen)]
    header += [""] + [f"#define IDC_{name} {1000 + i}" for i, name in enumerate(sorted(ids))]
    with open(header_path, "w", encoding="utf-8", newline="\n") as f:
        f.write("\n".join(header) + "\n")
    with open(rc_path, "w", encoding="utf-8", newline="\n") as f:
        f.write("// Generated by ui_to_rc.py from the bench's forms.\n#pragma code_page(65001)\n\n")
        f.write("\n".join(line for d in dialogs for line in d))
    with open(limits_path, "w", encoding="utf-8", newline="\n") as f:
        f.write("// Generated by ui_to_rc.py: {dialog, box, most characters} of the forms' boxes.\n")
        f.write("\n".join(limit_rows) + "\n")
    if names_path:
        with open(names_path, "w", encoding="utf-8", newline="\n") as f:
            f.write("// Generated by ui_to_rc.py: {dialog, control, what names it, name with its mnemonic,\n"
                    "// place in the dialog's tab order or -1} of the controls a screen reader names.\n")
            f.write("\n".join(name_rows) + "\n")


def write_ico(png_path, ico_path):
    data = open(png_path, "rb").read()
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        sys.exit(f"{png_path}: not a PNG")
    width, height = struct.unpack(">II", data[16:24])
    entry = struct.pack("<BBBBHHII", width % 256, height % 256, 0, 0, 1, 32, len(data), 6 + 16)
    with open(ico_path, "wb") as f:
        f.write(struct.pack("<HHH", 0, 1, 1) + entry + data)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--rc")
    parser.add_argument("--header")
    parser.add_argument("--limits")
    parser.add_argument("--names")
    parser.add_argument("--ico", nargs=2, metavar=("PNG", "ICO"))
    parser.add_argument("forms", nargs="*")
    args = parser.parse_args()
    if args.ico:
        write_ico(*args.ico)
    if args.forms:
        generate(args.forms, args.rc, args.header, args.limits, args.names)


if __name__ == "__main__":
    main()
