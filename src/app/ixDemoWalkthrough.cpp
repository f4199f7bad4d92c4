#include "app/ixDemoWalkthrough.h"

#include "app/main.h"
#include "core/ixSysUtils.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QImage>
#include <QPainter>

#include <cstdio>

namespace ix {

namespace {

constexpr int AnswerPollMs = 10;
/// The size the session is shown at after the first picture: a reader's window.
constexpr int ReaderWidth = 1280;
constexpr int ReaderHeight = 900;

/// Lets the window paint what the last step changed before it is pictured.
void SettleWindows()
{
    for (int round = 0; round < 3; ++round)
        QCoreApplication::processEvents(QEventLoop::AllEvents);
}

class TWalkthrough
{
public:
    TWalkthrough(TForm1& AForm, const QString& AFolder)
        : FForm(AForm), FFolder(AFolder),
          FAnswerer(&TixMessageBoxAnswerer::Agree, [this](const TixShownBox&) { Shot("2-certificate-question"); })
    {
    }

    int Run()
    {
        Shot("1-window");
        FForm.resize(ReaderWidth, ReaderHeight);
        FForm.btnConnect->click();
        if (!CheckNoError("Connect"))
            return 1;
        Shot("3-connected");
        if (FForm.lvMessages->topLevelItemCount() == 0) {
            std::printf("walkthrough: the mailbox is empty\n");
            return 1;
        }
        FForm.lvMessages->setCurrentItem(PickMessage());
        FForm.btnView->click();
        if (!CheckNoError("View"))
            return 1;
        Shot("4-message");
        if (FForm.lvAttachments->isVisible()) {
            FForm.lvAttachments->setFocus();
            Shot("5-attachments");
        }
        std::printf("walkthrough: connected to %s, read \"%s\"\n", qPrintable(FForm.edtServer->text()),
            qPrintable(FForm.edtSubject->text()));
        return 0;
    }

private:
    /// The last HTML message: the demo mailbox's newsletter with pictures and attachments.
    QTreeWidgetItem* PickMessage() const
    {
        const QList<QTreeWidgetItem*> html = FForm.lvMessages->findItems(QStringLiteral("HTML"), Qt::MatchContains, 1);
        return html.isEmpty() ? FForm.lvMessages->topLevelItem(0) : html.last();
    }

    bool CheckNoError(const char* AStep)
    {
        const std::vector<TixShownBox> errors = FAnswerer.BoxesWith(QMessageBox::Critical);
        if (errors.size() == FErrorsSeen)
            return true;
        std::printf("walkthrough: %s failed: %s\n", AStep, qPrintable(errors.back().Text));
        FErrorsSeen = errors.size();
        return false;
    }

    void Shot(const char* AName)
    {
        const QString path = QDir(FFolder).absoluteFilePath(QString::fromLatin1(AName) + QStringLiteral(".png"));
        SaveScreenshot(path);
        std::printf("walkthrough: screenshot %s\n", qPrintable(path));
        std::fflush(stdout);
    }

    TForm1& FForm;
    QString FFolder;
    TixMessageBoxAnswerer FAnswerer;
    size_t FErrorsSeen = 0;
};

} // namespace

TixMessageBoxAnswerer::TixMessageBoxAnswerer(TAnswerFunc AAnswer, TShownFunc AOnShown)
    : FAnswer(std::move(AAnswer)), FOnShown(std::move(AOnShown))
{
    QObject::connect(&FTimer, &QTimer::timeout, [this] { AnswerActiveBox(); });
    FTimer.start(AnswerPollMs);
}

QMessageBox::StandardButton TixMessageBoxAnswerer::Agree(const TixShownBox& ABox)
{
    return ABox.Buttons.testFlag(QMessageBox::Yes) ? QMessageBox::Yes : QMessageBox::Ok;
}

QMessageBox::StandardButton TixMessageBoxAnswerer::Refuse(const TixShownBox& ABox)
{
    return ABox.Buttons.testFlag(QMessageBox::No) ? QMessageBox::No : QMessageBox::Ok;
}

std::vector<TixShownBox> TixMessageBoxAnswerer::BoxesWith(QMessageBox::Icon AIcon) const
{
    std::vector<TixShownBox> result;
    for (const TixShownBox& box : FBoxes)
        if (box.Icon == AIcon)
            result.push_back(box);
    return result;
}

void TixMessageBoxAnswerer::AnswerActiveBox()
{
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (!box || !box->isVisible())
        return;
    const TixShownBox shown{box->windowTitle(), box->text(), box->icon(), box->standardButtons()};
    FBoxes.push_back(shown);
    if (FOnShown) {
        SettleWindows();
        FOnShown(shown);
    }
    if (QAbstractButton* button = box->button(FAnswer(shown)))
        button->click();
    else
        box->reject();
}

void SaveScreenshot(const QString& APath)
{
    SettleWindows();
    QList<QWidget*> windows;
    QRect area;
    for (QWidget* window : QApplication::topLevelWidgets()) {
        if (!window->isVisible())
            continue;
        windows.append(window);
        area = area.united(window->geometry());
    }
    // The main window first, boxes over it.
    std::stable_sort(windows.begin(), windows.end(),
        [](const QWidget* A, const QWidget* B) { return !A->isModal() && B->isModal(); });
    QImage picture(area.size().expandedTo(QSize(1, 1)), QImage::Format_RGB32);
    picture.fill(Qt::darkGray);
    QPainter painter(&picture);
    for (QWidget* window : windows)
        painter.drawPixmap(window->geometry().topLeft() - area.topLeft(), window->grab());
    painter.end();
    QDir().mkpath(QFileInfo(APath).absolutePath());
    if (!picture.save(APath, "PNG"))
        throw Exception("Cannot write the screenshot " + APath.toStdString());
}

int RunWalkthrough(TForm1& AForm, const QString& AFolder)
{
    return TWalkthrough(AForm, AFolder).Run();
}

} // namespace ix
