#pragma once
// Joins the library's message queue and the Qt event loop on the GUI thread, both ways:
// while the library waits (with GUI processing on), Qt's events run through the platform's
// toolkit hook, so the window repaints and takes clicks; while Qt's loop is idle, the
// library's posted messages and hidden-window timers (the keep-alive) are dispatched as soon as
// the queue's descriptor turns readable.

#include <exception>
#include <functional>
#include <memory>

class QSocketNotifier;

namespace ix {

class TixQtMessagePump
{
public:
    /// The longest time (ms) a library wait goes without running Qt's events.
    static constexpr unsigned MaxEventIntervalMs = 10;

    /// Called with an exception that a dispatched library message raised.
    using TErrorHandler = std::function<void(const std::exception& E)>;

    /// Installs the toolkit hook for the calling thread (a QCoreApplication must exist).
    explicit TixQtMessagePump(TErrorHandler AOnError);
    /// Removes the hook.
    ~TixQtMessagePump();
    TixQtMessagePump(const TixQtMessagePump&) = delete;
    TixQtMessagePump& operator=(const TixQtMessagePump&) = delete;

    /// How many library waits are running Qt's events right now (0 in Qt's own loop).
    int GetWaitDepth() const noexcept { return FWaitDepth; }

private:
    void ProcessToolkitEvents();
    void DispatchLibraryMessages();

    TErrorHandler FOnError;
    std::unique_ptr<QSocketNotifier> FQueueNotifier;
    int FWaitDepth = 0;
};

} // namespace ix
