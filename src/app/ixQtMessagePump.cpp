#include "app/ixQtMessagePump.h"

#include "platform/ixOsMessages.h"

#include <QCoreApplication>
#include <QSocketNotifier>

namespace ix {

TixQtMessagePump::TixQtMessagePump(TErrorHandler AOnError) : FOnError(std::move(AOnError))
{
    const int fd = os::GetMessageQueueFd();
    if (fd >= 0) {
        FQueueNotifier = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
        QObject::connect(FQueueNotifier.get(), &QSocketNotifier::activated,
            [this] { DispatchLibraryMessages(); });
    }
    os::TGuiHook hook;
    hook.ProcessEvents = [this] { ProcessToolkitEvents(); };
    hook.MaxIntervalMs = MaxEventIntervalMs;
    os::SetGuiHook(std::move(hook));
}

TixQtMessagePump::~TixQtMessagePump()
{
    os::RemoveGuiHook();
}

namespace {

/// For the time a library wait runs Qt's events: counts the wait and keeps the queue's
/// notifier off, since the wait dispatches the library's own messages itself.
class TLibraryWaitScope
{
public:
    TLibraryWaitScope(QSocketNotifier* ANotifier, int& ADepth) noexcept
        : FNotifier(ANotifier && ANotifier->isEnabled() ? ANotifier : nullptr), FDepth(ADepth)
    {
        ++FDepth;
        if (FNotifier)
            FNotifier->setEnabled(false);
    }
    ~TLibraryWaitScope()
    {
        --FDepth;
        if (FNotifier)
            FNotifier->setEnabled(true);
    }
    TLibraryWaitScope(const TLibraryWaitScope&) = delete;
    TLibraryWaitScope& operator=(const TLibraryWaitScope&) = delete;

private:
    QSocketNotifier* FNotifier;
    int& FDepth;
};

} // namespace

void TixQtMessagePump::ProcessToolkitEvents()
{
    const TLibraryWaitScope scope(FQueueNotifier.get(), FWaitDepth);
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void TixQtMessagePump::DispatchLibraryMessages()
{
    try {
        os::DispatchPendingMessages();
    } catch (const std::exception& E) {
        if (FOnError)
            FOnError(E);
    }
}

} // namespace ix
