// The page view of the Qt bench: each control value of a page model is bound to one
// widget, and the model's reads and writes go to that widget by its kind (line and
// text boxes, labels, combo boxes, check boxes and radio buttons, any other widget for
// its enabled state). Messages go through the message service.
#pragma once

#include <QHash>
#include <QPointer>
#include <QWidget>

#include "page_view.hpp"

namespace tolvex::bench::ui {

class QtPageView final : public tolvex::bench::PageView {
 public:
  void bind(int control, QWidget *widget) { widgets_.insert(control, widget); }
  QWidget *widget(int control) const { return widgets_.value(control).data(); }

  std::wstring text(int control) const override;
  void set_text(int control, std::wstring_view text) override;
  bool checked(int control) const override;
  void set_checked(int control, bool on) override;
  void set_items(int control, const std::vector<std::wstring> &items) override;
  int selection(int control) const override;
  void set_selection(int control, int index) override;
  void set_enabled(int control, bool on) override;
  void message(std::wstring_view text) override;
  bool ask(std::wstring_view text) override;
  void warning(std::wstring_view text, std::wstring_view detail) override;
  void set_marked(int control, bool marked, std::wstring_view why) override;
  void mark_characters(int control, const std::vector<std::size_t> &positions) override;

 private:
  QHash<int, QPointer<QWidget>> widgets_;
};

}  // namespace tolvex::bench::ui
