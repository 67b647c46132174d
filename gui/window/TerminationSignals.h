// SIGTERM, SIGINT and SIGHUP as a Qt signal on the thread that made the
// object. The handlers only write a byte to a socket pair; a socket
// notifier reads it in the event loop, where anything may be done. One
// object at a time; destroying it puts the earlier handlers back. Where
// there are no POSIX signals nothing is caught and nothing is emitted.
#pragma once

#include <QObject>

class QSocketNotifier;

namespace qv {

class TerminationSignals : public QObject {
    Q_OBJECT
public:
    explicit TerminationSignals(QObject *parent = nullptr);
    ~TerminationSignals() override;

signals:
    // Once for every signal caught, in the order they came.
    void received(int signalNumber);

private:
    void readPending();

    QSocketNotifier *notifier_ = nullptr;
};

} // namespace qv
