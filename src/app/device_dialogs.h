#pragma once
// The two small dialogs of the MIDI output: "MidiOut Setup" (the device to play on) and
// "Percussion Channel". Neither can be cancelled.

#include <string>
#include <vector>

#include "ok_only_dialog.h"

class QComboBox;
class QListWidget;

namespace tarrowin::app {

class MidiOutSetupDialog : public OkOnlyDialog {
    Q_OBJECT
   public:
    // rows: "Midi Mapper", then the devices in device-id order.
    explicit MidiOutSetupDialog(const std::vector<std::string>& rows, QWidget* parent = nullptr);
    // The chosen row - 1: -1 for "Midi Mapper", else the device id.
    int device() const { return device_; }
    void accept() override;

   private:
    QListWidget* list_;
    int device_ = -1;
};

class PercussionChannelDialog : public OkOnlyDialog {
    Q_OBJECT
   public:
    explicit PercussionChannelDialog(int channel, QWidget* parent = nullptr);
    int channel() const;

   private:
    QComboBox* channels_;
};

}  // namespace tarrowin::app
