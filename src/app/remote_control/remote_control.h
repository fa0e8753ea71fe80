#pragma once
// Remote control over OSC in the window: the server the settings ask for, and the requests
// it queues, applied on the window's thread through the same commands and document changes
// as the window's own controls, so that the enabling rules, the value ranges and the undo
// history hold for them too. A refused request is answered with /tarrowin/error and changes
// nothing; /tarrowin/state is answered with what plays.
//
// A flood of messages is applied a slice at a time, so that the window keeps answering
// input, painting and screen readers between slices.

#include <QObject>
#include <QString>
#include <QTimer>
#include <memory>

#include "app/command_state.h"
#include "app/workspace.h"
#include "remote/osc_server.h"
#include "remote/remote_rules.h"

namespace tarrowin::app {

class MainWindow;

class RemoteControl : public QObject {
    Q_OBJECT
   public:
    RemoteControl(Workspace& workspace, MainWindow& window);
    ~RemoteControl() override;

    // Starts, restarts or stops the server as `settings` say; "" when it listens as asked
    // (or is off), else why it cannot ("port 7770 is in use").
    QString apply(const RemoteSettings& settings);
    // The server's state for the dialog and the status bar: "Listening on 127.0.0.1:7770".
    QString status() const;
    bool listening() const { return server_ != nullptr; }
    uint16_t port() const { return server_ ? server_->port() : 0; }

    // Options > Remote Control (OSC)...
    void configure();

    // The requests waiting, for tests that fill it themselves.
    remote::RequestQueue& queue() { return queue_; }
    // Applies waiting requests for at most one slice of time.
    void applyWaiting();

   private:
    void applyOne(const remote::Incoming& incoming);
    void refuse(const remote::Peer& to, const QString& message) const;

    Workspace& ws_;
    MainWindow& window_;
    remote::RequestQueue queue_;
    std::unique_ptr<remote::OscServer> server_;
    QTimer slice_;
};

}  // namespace tarrowin::app
