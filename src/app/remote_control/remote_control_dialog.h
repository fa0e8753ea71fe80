#pragma once
// "Remote Control (OSC)": whether Tarrowin listens for OSC messages, on which UDP port,
// only on this computer or on every network (with the warning that anyone there can then
// play and change the document), and where answers go.

#include <QDialog>

#include "app/workspace.h"

class QCheckBox;
class QLabel;
class QRadioButton;
class QSpinBox;

namespace tarrowin::app {

class RemoteControlDialog : public QDialog {
    Q_OBJECT
   public:
    RemoteControlDialog(const RemoteSettings& settings, const QString& status, QWidget* parent = nullptr);
    RemoteSettings settings() const;
    void setStatus(const QString& status);

   private:
    void stabilize();

    QCheckBox* enabled_;
    QSpinBox* port_;
    QRadioButton* thisComputer_;
    QRadioButton* allNetworks_;
    QLabel* warning_;
    QSpinBox* answerPort_;
    QLabel* status_;
};

}  // namespace tarrowin::app
