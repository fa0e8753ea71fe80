#include "qt_prompter.h"

#include <QApplication>
#include <QMessageBox>

namespace tarrowin::app {

namespace {

QMessageBox::Icon toQt(MessageIcon icon) {
    switch (icon) {
        case MessageIcon::Exclamation: return QMessageBox::Warning;
        case MessageIcon::Question: return QMessageBox::Question;
        case MessageIcon::Information: return QMessageBox::Information;
        case MessageIcon::Stop: return QMessageBox::Critical;
    }
    return QMessageBox::NoIcon;
}

}  // namespace

void showMessage(QWidget* parent, const QString& text, const QString& caption, MessageIcon icon) {
    QMessageBox box(toQt(icon), caption, text, QMessageBox::Ok, parent);
    box.exec();
}

QWidget* QtPrompter::parent() const {
    if (QWidget* modal = QApplication::activeModalWidget()) return modal;
    if (QWidget* active = QApplication::activeWindow()) return active;
    return fallback_;
}

void QtPrompter::message(const std::string& text, const std::string& caption, MessageIcon icon) {
    showMessage(parent(), QString::fromStdString(text), QString::fromStdString(caption), icon);
}

bool QtPrompter::ask(const std::string& text, const std::string& caption) {
    QMessageBox box(QMessageBox::Question, QString::fromStdString(caption), QString::fromStdString(text),
                    QMessageBox::Yes | QMessageBox::No, parent());
    return box.exec() == QMessageBox::Yes;
}

}  // namespace tarrowin::app
