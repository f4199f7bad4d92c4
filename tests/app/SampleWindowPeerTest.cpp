// The window's handlers against Dovecot: the list, reading, deleting, disconnecting, the
// certificate question, the error display and a window that stays responsive.
#include "SampleWindowTestSupport.h"
#include "pop3/ixPop3.h"

#include <QTest>
#include <QTimer>

#include <algorithm>
#include <functional>
#include <vector>

namespace ix::test {

namespace {

const std::string FewPassword = "secret-few";
const std::vector<std::string> FewSubjects = {"Message number 1", "Message number 2", "Message number 3"};

} // namespace

using SampleWindowSession = SampleWindowTest;

TEST_F(SampleWindowSession, ConnectListsWithStatTopAndUidlDeleteKeepsTheOthersWithTheirNumbersAndDisconnectClears)
{
    Connect("few", FewPassword);
    ASSERT_TRUE(Form->ixPop->IsActive());
    EXPECT_EQ(SentFrom("STAT"),
        (std::vector<std::string>{"STAT", "TOP 1 0", "UIDL 1", "TOP 2 0", "UIDL 2", "TOP 3 0", "UIDL 3"}));
    ASSERT_EQ(Column(1), FewSubjects);
    EXPECT_EQ(Numbers(), (std::vector<int>{1, 2, 3}));
    for (size_t i = 0; i < FewSubjects.size(); ++i) {
        EXPECT_NE(Column(0)[i].find("<sender" + std::to_string(i + 1) + "@ix.test>"), std::string::npos) << Column(0)[i];
        EXPECT_NE(Column(2)[i].find("2008"), std::string::npos) << Column(2)[i];
        EXPECT_EQ(Column(3)[i].size(), 16u) << Column(3)[i];
    }
    ASSERT_EQ(Answerer->GetBoxes().size(), 1u) << "only the certificate question, asked once";
    EXPECT_EQ(Answerer->GetBoxes()[0].Icon, QMessageBox::Warning);

    // Deleting the second of three keeps the others with their numbers.
    SelectMessage(2);
    Form->btnDelete->click();
    EXPECT_EQ(Sent.back(), "DELE 2");
    EXPECT_EQ(Numbers(), (std::vector<int>{1, 3}));
    EXPECT_EQ(Column(1), (std::vector<std::string>{FewSubjects[0], FewSubjects[2]}));

    SelectMessage(3);
    Form->btnView->click();
    EXPECT_EQ(Sent.back(), "RETR 3");
    EXPECT_EQ(Form->edtSubject->text().toStdString(), FewSubjects[2]);
    EXPECT_EQ(Form->edtFrom->text().toStdString(), "\"Sender 3\" <sender3@ix.test>");
    EXPECT_FALSE(Form->memBody->toPlainText().isEmpty());

    // The server forgets the deletion (RSET), so that the mailbox stays as it is for the other
    // tests; Disconnect says QUIT and clears the list and the message shown.
    Form->ixPop->SendCommandSync("RSET", {TixPop3::ReplyOk});
    Form->btnDisconnect->click();
    EXPECT_EQ(Sent.back(), "QUIT");
    EXPECT_FALSE(Form->ixPop->IsActive());
    EXPECT_EQ(Form->lvMessages->topLevelItemCount(), 0);
    EXPECT_TRUE(Form->edtFrom->text().isEmpty() && Form->edtSubject->text().isEmpty());
    EXPECT_TRUE(Form->memBody->toPlainText().isEmpty());
}

using ErrorDisplay = SampleWindowTest;

// What the user is shown: the port error before anything is sent, the certificate question whose
// refusal leaves the client closed with the verification error, the server's refusal of a wrong
// password; a server that a trusted CA vouches for is not questioned.
TEST_F(ErrorDisplay, ShowsThePortErrorTheRefusedCertificateAndTheServersRefusalAndATrustedCaSparesTheQuestion)
{
    Form->edtPort->setText(QStringLiteral("99x"));
    Form->btnConnect->click();
    EXPECT_FALSE(Form->ixPop->IsActive());
    ASSERT_EQ(Answerer->GetBoxes().size(), 1u);
    EXPECT_EQ(Answerer->GetBoxes()[0].Icon, QMessageBox::Critical);
    EXPECT_EQ(Answerer->GetBoxes()[0].Text, QStringLiteral("'99x' is not a valid integer value"));

    Answer = &TixMessageBoxAnswerer::Refuse;
    Connect("few", FewPassword);
    EXPECT_FALSE(Form->ixPop->IsActive());
    EXPECT_EQ(Form->lvMessages->topLevelItemCount(), 0);
    EXPECT_TRUE(Sent.empty()) << "nothing is sent with a bad port or to a rejected server";
    const std::vector<TixShownBox>& boxes = Answerer->GetBoxes();
    ASSERT_EQ(boxes.size(), 3u);
    const TixShownBox& question = boxes[1];
    EXPECT_EQ(question.Icon, QMessageBox::Warning);
    EXPECT_EQ(question.Buttons, QMessageBox::Yes | QMessageBox::No);
    const QString proceed = QString::fromLatin1(TForm1::ProceedQuestion);
    ASSERT_TRUE(question.Text.endsWith(proceed)) << question.Text.toStdString();
    const QString status = question.Text.chopped(proceed.size());
    EXPECT_FALSE(status.isEmpty());
    EXPECT_EQ(boxes[2].Icon, QMessageBox::Critical);
    EXPECT_TRUE(boxes[2].Text.contains(status)) << boxes[2].Text.toStdString();

    Answer = &TixMessageBoxAnswerer::Agree;
    Connect("few", "not-the-password");
    EXPECT_FALSE(Form->ixPop->IsActive());
    const std::vector<TixShownBox> errors = Answerer->BoxesWith(QMessageBox::Critical);
    ASSERT_EQ(errors.size(), 3u);
    EXPECT_TRUE(errors[2].Text.startsWith(QStringLiteral("-ERR"))) << errors[2].Text.toStdString();

    // An empty mailbox on a server that a trusted CA vouches for: no question (a sixth box), and
    // an empty list without TOP or UIDL.
    const auto peer = RequirePeerEnv(IX_APP_DOVECOT_SERVER_ENV);
    const QByteArray trusted = qgetenv("SSL_CERT_FILE");
    qputenv("SSL_CERT_FILE", QByteArray::fromStdString(peer.at("DOVECOT_CA")));
    Connect("empty", "secret-empty", IX_APP_DOVECOT_SERVER_ENV);
    trusted.isNull() ? qunsetenv("SSL_CERT_FILE") : qputenv("SSL_CERT_FILE", trusted);
    ASSERT_TRUE(Form->ixPop->IsActive());
    EXPECT_EQ(Answerer->GetBoxes().size(), 5u);
    EXPECT_EQ(SentFrom("STAT"), std::vector<std::string>{"STAT"});
    EXPECT_EQ(Form->lvMessages->topLevelItemCount(), 0);
}

using Responsiveness = SampleWindowTest;

// The twenty-megabyte message viewed three times while a 5 ms timer runs: the window's timer keeps
// firing through a whole download; Disconnect pressed during one aborts it cleanly; closing the
// window during one ends the exchange first.
TEST_F(Responsiveness, TimersFireWhileATwentyMegabyteMessageDownloadsAndDisconnectOrCloseEndTheDownload)
{
    // Views the message while the timer calls ATick, which may stop it; true when the timer still
    // ran once the handler returned. No error box may show up meanwhile.
    const auto viewTicking = [this](const std::function<void(QTimer&)>& ATick) {
        SelectMessage(1);
        QTimer timer;
        QObject::connect(&timer, &QTimer::timeout, [&] { ATick(timer); });
        timer.start(5);
        Form->btnView->click();
        const bool running = timer.isActive();
        timer.stop();
        EXPECT_TRUE(Answerer->BoxesWith(QMessageBox::Critical).empty());
        return running;
    };
    int ticksDuringExchange = 0;
    bool buttonsLocked = true;
    bool progressVisible = true;
    std::vector<int> barValues;
    QObject::connect(Form->pbDownload, &QProgressBar::valueChanged, [&](int AValue) {
        if (Form->IsExchangeRunning())
            barValues.push_back(AValue);
    });
    Connect("twenty", "secret-twenty");
    viewTicking([&](QTimer&) {
        if (!Form->IsExchangeRunning())
            return;
        ++ticksDuringExchange;
        buttonsLocked = buttonsLocked && !Form->btnView->isEnabled() && !Form->btnConnect->isEnabled()
            && Form->btnDisconnect->isEnabled();
        progressVisible = progressVisible && Form->pbDownload->isVisible();
    });
    EXPECT_GT(ticksDuringExchange, 0);
    EXPECT_TRUE(buttonsLocked);
    EXPECT_TRUE(progressVisible);
    EXPECT_EQ(Form->pbDownload->value(), Form->pbDownload->maximum()) << "the last report is the whole size";
    const int maximum = Form->pbDownload->maximum();
    const auto intermediate = std::count_if(barValues.begin(), barValues.end(),
        [&](int AValue) { return AValue > 0 && AValue < maximum; });
    EXPECT_GE(intermediate, 10) << "the bar jumped instead of moving along";
    EXPECT_TRUE(std::is_sorted(barValues.begin(), barValues.end()));
    EXPECT_FALSE(Form->pbDownload->isVisible());
    EXPECT_TRUE(Form->btnView->isEnabled());
    EXPECT_EQ(Form->edtSubject->text(), QStringLiteral("Large message 1"));

    const bool running = viewTicking([&](QTimer& ATimer) {
        if (Form->IsExchangeRunning() && Sent.back() == "RETR 1") {
            ATimer.stop();
            Form->btnDisconnect->click();
        }
    });
    EXPECT_FALSE(running) << "the download ended before Disconnect could be pressed";
    EXPECT_FALSE(Form->ixPop->IsActive());
    EXPECT_FALSE(Form->ixPop->GetInProgress());
    EXPECT_EQ(Form->lvMessages->topLevelItemCount(), 0);
    EXPECT_TRUE(Form->edtSubject->text().isEmpty());
    EXPECT_EQ(std::count(Sent.begin(), Sent.end(), "QUIT"), 0);

    Connect("twenty", "secret-twenty");
    EXPECT_TRUE(Form->ixPop->IsActive());
    EXPECT_EQ(Form->lvMessages->topLevelItemCount(), 1);
    viewTicking([&](QTimer& ATimer) {
        if (Form->IsExchangeRunning()) {
            ATimer.stop();
            Form->close();
            EXPECT_TRUE(Form->isVisible()) << "the window waits for its handler to return";
        }
    });
    EXPECT_FALSE(Form->ixPop->IsActive());
    EXPECT_TRUE(QTest::qWaitFor([&] { return !Form->isVisible(); }, 30000));
}

} // namespace ix::test
