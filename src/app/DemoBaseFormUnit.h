#pragma once
// The base window of the demos: a banner strip at the top that opens the support page, an
// empty main panel below it, the default error display, and the bridge that keeps the window
// serviced while the library waits.

#include "app/ixQtMessagePump.h"

#include <QLabel>
#include <QWidget>

#include <exception>
#include <functional>
#include <string>

namespace ix {

/// A picture that reports clicks, like a toolkit image control.
class TixImage : public QLabel
{
public:
    explicit TixImage(QWidget* AParent);

    /// Fired by a left-button click.
    std::function<void()> OnClick;

protected:
    void mouseReleaseEvent(QMouseEvent* AEvent) override;
};

class TixDemoBaseForm : public QWidget
{
public:
    static constexpr int FormWidth = 639;
    static constexpr int FormHeight = 480;
    static constexpr int LogoHeight = 78;
    static constexpr int LogoLeftWidth = 406;
    static constexpr int LogoRightWidth = 209;
    /// Tahoma 8 points at 96 pixels per inch.
    static constexpr int FontPixelSize = 11;

    /// Builds the banner and the main panel; the library's 8-bit text becomes UTF-8 (the
    /// toolkit's), so that every character set a message uses can be shown.
    explicit TixDemoBaseForm(QWidget* AParent = nullptr);
    ~TixDemoBaseForm() override;

    /// The address of the support page that the banner opens.
    virtual std::string GetSupportUrl() const;

    /// Click on any banner picture: opens GetSupportUrl with the shell's "open" verb.
    void imLogoLeftClick();

    /// How many library waits are running the window's events right now.
    int GetLibraryWaitDepth() const noexcept { return FMessagePump.GetWaitDepth(); }

    QWidget* pnlLogo;
    TixImage* imLogoLeft;
    TixImage* imLogoMiggle;
    TixImage* imLogoRight;
    QWidget* pnlMain;

protected:
    /// Hands ATarget (a file or an address) to the desktop's handler with the shell's "open"
    /// verb; raises Exception when no handler can be started.
    void ShellOpen(const std::string& ATarget);
    /// Runs an event handler; an exception that ends it goes to ShowException.
    void RunHandler(const std::function<void()>& AHandler);
    /// The default error display: a message box with the exception's message.
    virtual void ShowException(const std::exception& E);

private:
    TixImage* NewLogoImage(const char* AResource);

    TixQtMessagePump FMessagePump;
};

} // namespace ix
