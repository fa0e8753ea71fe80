#pragma once
// The program's message boxes: the texts, captions and icons of the core's messages shown
// as QMessageBoxes over the active window.

#include <QString>

#include "tools/prompter.h"

class QWidget;

namespace tarrowin::app {

class QtPrompter final : public Prompter {
   public:
    // Boxes are parented to the active window, or to `fallback` when none is active.
    explicit QtPrompter(QWidget* fallback = nullptr) : fallback_(fallback) {}
    void setFallbackParent(QWidget* w) { fallback_ = w; }

    void message(const std::string& text, const std::string& caption, MessageIcon icon) override;
    bool ask(const std::string& text, const std::string& caption) override;

   private:
    QWidget* parent() const;
    QWidget* fallback_;
};

// One box with an OK button, over `parent`.
void showMessage(QWidget* parent, const QString& text, const QString& caption, MessageIcon icon);

}  // namespace tarrowin::app
