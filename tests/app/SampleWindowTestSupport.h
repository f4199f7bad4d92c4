#pragma once
// What the sample window's tests share: the application on Qt's offscreen platform, the Dovecot
// servers' settings, and a fixture that shows the window, records the commands its client sends
// and answers its message boxes.

#include "app/ixDemoWalkthrough.h"
#include "app/main.h"
#include "support/PeerEnv.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace ix::test {

/// A stand-in for the desktop's xdg-open, first on PATH while it lives: it writes down what it
/// was asked to open and keeps a copy of an opened file.
class TFakeDesktopOpener
{
public:
    TFakeDesktopOpener();
    /// Restores PATH.
    ~TFakeDesktopOpener();
    TFakeDesktopOpener(const TFakeDesktopOpener&) = delete;
    TFakeDesktopOpener& operator=(const TFakeDesktopOpener&) = delete;

    /// What it was asked to open; empty when it was not started within 30 s.
    QString WaitForTarget();
    /// The bytes of the file it was asked to open, as they were then (set by WaitForTarget).
    QByteArray Content;

private:
    QTemporaryDir FFolder;
    QByteArray FPath;
};

/// The window with its file dialogs answered by the test.
class TTestForm : public TForm1
{
public:
    /// What the folder dialog of Save All answers.
    QString Folder;

protected:
    QString AskFolder() override { return Folder; }
    QString AskSaveFileName(const QString& ASuggested) override { return ASuggested; }
};

class SampleWindowTest : public testing::Test
{
protected:
    void SetUp() override;

    /// Fills in the port (the implicit TLS port of the Dovecot of APeerEnv), user and password
    /// fields for AUser and presses Connect; the window's first server and TLS setting stay.
    void Connect(const std::string& AUser, const std::string& APassword,
        const char* APeerEnv = IX_APP_DOVECOT_SELF_ENV);
    /// The commands sent since (and including) the first AFirst.
    std::vector<std::string> SentFrom(const std::string& AFirst) const;
    /// The texts of column AColumn, one per list row.
    std::vector<std::string> Column(int AColumn) const;
    /// The message numbers that the list's items carry.
    std::vector<int> Numbers() const;
    /// Selects the row whose message number is ANumber.
    void SelectMessage(int ANumber);

    /// How the next message boxes are answered (Agree unless a test says otherwise).
    TixMessageBoxAnswerer::TAnswerFunc Answer = &TixMessageBoxAnswerer::Agree;
    std::unique_ptr<TixMessageBoxAnswerer> Answerer;
    std::vector<std::string> Sent;
    /// Declared last, so that the window goes first, while its answerer and command record live.
    std::unique_ptr<TTestForm> Form;
};

} // namespace ix::test
