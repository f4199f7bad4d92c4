// The window as a mail reader, on the demo mailbox: the HTML newsletter rendered without a
// single outside request, attachments saved byte for byte and only inside the chosen folder,
// a layout that grows, buttons that follow the state, Enter, and sorting by date.
#include "SampleWindowTestSupport.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QHeaderView>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTest>
#include <QTextDocument>

#include <map>
#include <set>

namespace ix::test {

namespace {

constexpr int Newsletter = 8;
constexpr int AwkwardNames = 9;
const QString NewsletterSubject = QStringLiteral("Spring launch newsletter (HTML)");
const QString AwkwardSubject = QStringLiteral("Attachments with awkward names");

/// The attachments that the demo mailbox's generator embedded in the message ASubject: name to
/// bytes.
std::map<QString, QByteArray> EmbeddedAttachments(const QString& ASubject)
{
    QProcess generator;
    generator.start(QStringLiteral("/usr/bin/python3"), {QStringLiteral(IX_DEMO_GENERATOR), QStringLiteral("attachments")});
    EXPECT_TRUE(generator.waitForFinished(30000)) << "the demo generator does not answer";
    std::map<QString, QByteArray> attachments;
    for (const QJsonValue& entry : QJsonDocument::fromJson(generator.readAllStandardOutput()).array())
        if (entry[QStringLiteral("subject")].toString() == ASubject)
            attachments[entry[QStringLiteral("name")].toString()] =
                QByteArray::fromBase64(entry[QStringLiteral("data")].toString().toLatin1());
    EXPECT_FALSE(attachments.empty()) << ASubject.toStdString();
    return attachments;
}

/// Every file below AFolder (relative path to content).
std::map<QString, QByteArray> FilesBelow(const QString& AFolder)
{
    std::map<QString, QByteArray> files;
    QDirIterator entries(AFolder, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (entries.hasNext()) {
        QFile file(entries.next());
        EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << file.fileName().toStdString();
        files[QDir(AFolder).relativeFilePath(file.fileName())] = file.readAll();
    }
    return files;
}

/// The loopback port that the newsletter's remote pictures point at, read from its source.
quint16 RemotePicturePort()
{
    const auto peer = RequirePeerEnv(IX_APP_DOVECOT_SELF_ENV);
    QFile source(QString::fromStdString(peer.at("DOVECOT_STATE")) + QStringLiteral("/expected/IvoryTester/%1.eml").arg(Newsletter));
    EXPECT_TRUE(source.open(QIODevice::ReadOnly)) << source.fileName().toStdString();
    const auto match = QRegularExpression(QStringLiteral("http://127\\.0\\.0\\.1:(\\d+)/")).match(QString::fromLatin1(source.readAll()));
    EXPECT_TRUE(match.hasMatch()) << "the newsletter has no remote pictures";
    return static_cast<quint16>(match.captured(1).toUInt());
}

} // namespace

using MailReader = SampleWindowTest;

// The demo mailbox read from start to end: the state before and after connecting, the HTML
// newsletter rendered without a single outside request, a window that grows, sorting by date,
// Enter, and the attachments saved and opened byte for byte only inside the chosen folder.
TEST_F(MailReader, ShowsTheNewsletterWithoutOutsideRequestsGrowsSortsDatesByDateAndSavesAttachmentsOnlyInsideTheChosenFolder)
{
    const auto view = [this](int ANumber) {
        SelectMessage(ANumber);
        Form->btnView->click();
        ASSERT_EQ(Sent.back(), "RETR " + std::to_string(ANumber));
    };
    QTemporaryDir scratch;
    EXPECT_TRUE(Form->btnConnect->isEnabled());
    EXPECT_FALSE(Form->btnDisconnect->isEnabled() || Form->btnView->isEnabled() || Form->btnDelete->isEnabled());
    EXPECT_FALSE(Form->lvAttachments->isVisible());
    QTcpServer web;
    ASSERT_TRUE(web.listen(QHostAddress::LocalHost, RemotePicturePort())) << web.errorString().toStdString();
    int requests = 0;
    QObject::connect(&web, &QTcpServer::newConnection, [&] { ++requests; });
    Connect("IvoryTester", "samplepasswd");
    EXPECT_FALSE(Form->btnConnect->isEnabled());
    EXPECT_TRUE(Form->btnDisconnect->isEnabled());
    EXPECT_FALSE(Form->btnView->isEnabled()) << "nothing selected";
    EXPECT_TRUE(Form->sbStatus->currentMessage().contains(QStringLiteral("9 message"))) << Form->sbStatus->currentMessage().toStdString();
    EXPECT_FALSE(Form->pbList->isVisible());
    EXPECT_EQ(Form->pbList->value(), 9);

    const std::vector<std::string> subjects = Column(1);
    ASSERT_GE(subjects.size(), 3u);
    EXPECT_EQ(subjects[0], "Welcome to your mailbox");
    EXPECT_EQ(subjects[2], "Grüße aus München");
    EXPECT_EQ(Column(0)[2].find("Jürgen Müller"), 1u) << Column(0)[2];
    // An alternative message shows its HTML part as text in memBody.
    view(2);
    EXPECT_EQ(Form->edtFrom->text(), QStringLiteral("Finance <finance@ix.test>"));
    EXPECT_EQ(Form->edtSubject->text(), QStringLiteral("Quarterly report (HTML)"));
    EXPECT_TRUE(Form->memBody->toPlainText().contains(QStringLiteral("<h1>Quarterly report</h1>")))
        << Form->memBody->toPlainText().toStdString();
    // Kept for a person to look at: the connected window with a message shown.
    const QString shot = QStringLiteral(IX_APP_SCREENSHOT_DIR "/connected-message.png");
    SaveScreenshot(shot);
    EXPECT_TRUE(QFile::exists(shot));

    view(Newsletter);
    (void)Form->wbBody->grab();
    QTest::qWait(200);

    EXPECT_EQ(requests, 0);
    EXPECT_FALSE(web.hasPendingConnections());
    EXPECT_EQ(Form->tbBody->currentIndex(), TForm1::btHtml);
    EXPECT_TRUE(Form->wbBody->isVisible() && !Form->memBody->isVisible());
    const QString shown = Form->wbBody->toPlainText();
    EXPECT_TRUE(shown.contains(QStringLiteral("Spring launch")) && shown.contains(QStringLiteral("North")));
    EXPECT_FALSE(shown.contains(QLatin1Char('<')) || shown.contains(QStringLiteral("script ran"))) << shown.toStdString();
    EXPECT_GE(Form->wbBody->GetBlockedCount(), 3) << "banner, tracker and the style sheet or background";
    const QImage chart =
        Form->wbBody->document()->resource(QTextDocument::ImageResource, QUrl(QStringLiteral("cid:chart@ix.test"))).value<QImage>();
    EXPECT_EQ(chart.size(), QSize(160, 80)) << "the picture comes from the message's own part";
    Form->wbBody->ShowHtml(QStringLiteral("<img src=\"cid:chart@ix.test\">"), {});
    EXPECT_NE(Form->wbBody->document()->resource(QTextDocument::ImageResource, QUrl(QStringLiteral("cid:chart@ix.test")))
                  .value<QImage>().size(),
        QSize(160, 80))
        << "the next message cannot show the parts of the last one";
    EXPECT_TRUE(Form->memBody->toPlainText().contains(QStringLiteral("<h1>Spring launch</h1>")))
        << "memBody keeps the message text as it stands";
    EXPECT_TRUE(TixHtmlView::IsOpenableLink(QUrl(QStringLiteral("https://www.example.com/spring"))));
    EXPECT_FALSE(TixHtmlView::IsOpenableLink(QUrl(QStringLiteral("file:///etc/passwd"))));

    const QSize list = Form->lvMessages->size();
    const QSize text = Form->memBody->size();
    Form->resize(1280, 900);
    ASSERT_TRUE(QTest::qWaitFor([&] { return Form->size() == QSize(1280, 900); }));
    EXPECT_GT(Form->lvMessages->width(), list.width() + 500);
    EXPECT_GT(Form->lvMessages->height(), list.height() + 80);
    EXPECT_GT(Form->memBody->width(), text.width() + 500);
    EXPECT_GT(Form->memBody->height(), text.height() + 200);
    EXPECT_EQ(Form->memBody->geometry(), Form->wbBody->geometry());

    QHeaderView& header = *Form->lvMessages->header();
    QTest::mouseClick(header.viewport(), Qt::LeftButton, {},
        QPoint(header.sectionViewportPosition(TForm1::mcDate) + 5, header.height() / 2));
    ASSERT_EQ(header.sortIndicatorSection(), TForm1::mcDate);
    // 10 June is the newest: a sort by text would put it before 2 June.
    std::vector<double> dates;
    for (int row = 0; row < Form->lvMessages->topLevelItemCount(); ++row)
        dates.push_back(Form->lvMessages->topLevelItem(row)->data(TForm1::mcDate, Qt::UserRole + 1).toDouble());
    EXPECT_TRUE(std::is_sorted(dates.begin(), dates.end()) || std::is_sorted(dates.rbegin(), dates.rend()));
    const bool ascending = header.sortIndicatorOrder() == Qt::AscendingOrder;
    EXPECT_EQ(Numbers().front(), ascending ? 1 : AwkwardNames);
    EXPECT_EQ(Numbers().back(), ascending ? AwkwardNames : 1);

    SelectMessage(AwkwardNames);
    EXPECT_TRUE(Form->btnView->isEnabled() && Form->btnDelete->isEnabled());
    Form->lvMessages->setFocus();
    QTest::keyClick(Form->lvMessages, Qt::Key_Return);
    EXPECT_EQ(Sent.back(), "RETR 9");
    EXPECT_EQ(Form->edtSubject->text(), AwkwardSubject);
    EXPECT_EQ(Form->tbBody->currentIndex(), TForm1::btText) << "a message without HTML shows its text";
    EXPECT_FALSE(Form->tbBody->isTabEnabled(TForm1::btHtml));
    EXPECT_TRUE(Form->lvAttachments->isVisible() && Form->btnSave->isEnabled() && Form->btnSaveAll->isEnabled());
    EXPECT_GT(Form->memBody->height(), 200) << "room for the attachments comes from both lists";


    view(Newsletter);
    ASSERT_TRUE(Form->lvAttachments->isVisible());
    const std::map<QString, QByteArray> newsletter = EmbeddedAttachments(NewsletterSubject);
    ASSERT_EQ(Form->GetAttachments().size(), newsletter.size()) << "the chart in the text is no attachment";
    Form->Folder = scratch.filePath(QStringLiteral("newsletter"));
    ASSERT_TRUE(QDir().mkpath(Form->Folder));
    Form->btnSaveAll->click();
    EXPECT_EQ(FilesBelow(Form->Folder), newsletter);
    {
        TFakeDesktopOpener opener;
        Form->lvAttachments->setFocus();
        QTest::keyClick(Form->lvAttachments, Qt::Key_Return);
        EXPECT_TRUE(opener.WaitForTarget().endsWith(QStringLiteral("/Launch plan.pdf")));
        EXPECT_EQ(opener.Content, newsletter.at(QStringLiteral("Launch plan.pdf")));
    }

    view(AwkwardNames);
    const std::map<QString, QByteArray> awkward = EmbeddedAttachments(AwkwardSubject);
    Form->Folder = scratch.filePath(QStringLiteral("a/b/chosen"));
    ASSERT_TRUE(QDir().mkpath(Form->Folder));
    Form->btnSaveAll->click();
    const std::map<QString, QByteArray> written = FilesBelow(scratch.path());
    ASSERT_EQ(written.size(), newsletter.size() + awkward.size()) << "nothing outside the chosen folders";
    std::multiset<QByteArray> contents;
    QString changed;
    for (const auto& [path, data] : written) {
        if (path.startsWith(QStringLiteral("newsletter/")))
            continue;
        changed = scratch.filePath(path);
        EXPECT_TRUE(path.startsWith(QStringLiteral("a/b/chosen/"))) << path.toStdString();
        EXPECT_EQ(path.count(QLatin1Char('/')), 3) << path.toStdString();
        EXPECT_LE(QFileInfo(path).fileName().toUtf8().size(), 255) << path.toStdString();
        contents.insert(data);
    }
    std::multiset<QByteArray> expected;
    for (const auto& [name, data] : awkward)
        expected.insert(data);
    EXPECT_EQ(contents, expected);

    // Saved again: every file is in the way, the user keeps them all.
    QFile mine(changed);
    ASSERT_TRUE(mine.open(QIODevice::WriteOnly) && mine.write("mine") == 4);
    mine.close();
    Answer = &TixMessageBoxAnswerer::Refuse;
    const size_t boxes = Answerer->GetBoxes().size();
    Form->btnSaveAll->click();
    EXPECT_EQ(Answerer->GetBoxes().size(), boxes + awkward.size());
    ASSERT_TRUE(mine.open(QIODevice::ReadOnly));
    EXPECT_EQ(mine.readAll(), QByteArray("mine"));

    Form->btnDisconnect->click();
    EXPECT_TRUE(Form->btnConnect->isEnabled());
    EXPECT_FALSE(Form->btnDisconnect->isEnabled() || Form->btnView->isEnabled());
    EXPECT_FALSE(Form->lvAttachments->isVisible() || Form->btnSaveAll->isEnabled());
}

} // namespace ix::test
