#pragma once
// Unattended use of the sample window: answering its message boxes, taking screenshots, and a
// scripted session (connect, accept the certificate, read a message) for machines without a
// person in front of them.

#include <QMessageBox>
#include <QString>
#include <QTimer>

#include <functional>
#include <vector>

namespace ix {

class TForm1;

/// What a message box showed.
struct TixShownBox
{
    QString Title;
    QString Text;
    QMessageBox::Icon Icon = QMessageBox::NoIcon;
    QMessageBox::StandardButtons Buttons;
};

/// Answers every message box that becomes the active modal window while this object lives:
/// records it, lets AOnShown look at it (a screenshot, say), then presses the button that
/// AAnswer chooses.
class TixMessageBoxAnswerer
{
public:
    using TAnswerFunc = std::function<QMessageBox::StandardButton(const TixShownBox& ABox)>;
    using TShownFunc = std::function<void(const TixShownBox& ABox)>;

    explicit TixMessageBoxAnswerer(TAnswerFunc AAnswer, TShownFunc AOnShown = {});
    /// Yes to a question, OK to anything else.
    static QMessageBox::StandardButton Agree(const TixShownBox& ABox);
    /// No to a question, OK to anything else.
    static QMessageBox::StandardButton Refuse(const TixShownBox& ABox);

    const std::vector<TixShownBox>& GetBoxes() const noexcept { return FBoxes; }
    /// The boxes shown with AIcon.
    std::vector<TixShownBox> BoxesWith(QMessageBox::Icon AIcon) const;

private:
    void AnswerActiveBox();

    TAnswerFunc FAnswer;
    TShownFunc FOnShown;
    std::vector<TixShownBox> FBoxes;
    QTimer FTimer;
};

/// The visible top-level windows (the main window and any box over it) as one picture, saved
/// as PNG to APath; raises Exception when it cannot be written.
void SaveScreenshot(const QString& APath);

/// Runs the demo session on AForm: a picture of the window as it opens, then at 1280 x 900:
/// connect (accepting the server's certificate), read the last HTML message (with its
/// attachments), save a screenshot after each step into AFolder and print the paths. Returns 0
/// when every step worked, 1 otherwise (the error is printed).
int RunWalkthrough(TForm1& AForm, const QString& AFolder);

} // namespace ix
