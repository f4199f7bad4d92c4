#include "SampleWindowTestSupport.h"

#include "pop3/ixPop3.h"

#include <QApplication>
#include <QFile>
#include <QTest>

#include <fstream>

// Qt's accessibility bridge keeps a D-Bus buffer until the process ends.
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:libdbus-1.so\n";
}

namespace ix::test {

namespace {

/// The application on Qt's offscreen platform: windows, painting and input without a display.
class TDisplayEnvironment : public testing::Environment
{
public:
    void SetUp() override
    {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        FApplication = std::make_unique<QApplication>(FArgc, FArgv);
    }

    void TearDown() override { FApplication.reset(); }

private:
    int FArgc = 1;
    char FName[10] = "app_tests";
    char* FArgv[2] = {FName, nullptr};
    std::unique_ptr<QApplication> FApplication;
};

[[maybe_unused]] testing::Environment* const Display = testing::AddGlobalTestEnvironment(new TDisplayEnvironment);

std::string WithoutLineEnd(std::string AText)
{
    while (!AText.empty() && (AText.back() == '\n' || AText.back() == '\r'))
        AText.pop_back();
    return AText;
}

} // namespace

TFakeDesktopOpener::TFakeDesktopOpener() : FPath(qgetenv("PATH"))
{
    EXPECT_TRUE(FFolder.isValid());
    QFile script(FFolder.filePath(QStringLiteral("xdg-open")));
    EXPECT_TRUE(script.open(QIODevice::WriteOnly));
    script.write(QStringLiteral("#!/bin/sh\n[ -f \"$1\" ] && cp \"$1\" '%1/content'\n"
                                "printf '%s\\n' \"$@\" > '%1/target.part' && mv '%1/target.part' '%1/target'\n")
                     .arg(FFolder.path())
                     .toUtf8());
    script.close();
    script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    qputenv("PATH", FFolder.path().toUtf8() + ":" + FPath);
}

TFakeDesktopOpener::~TFakeDesktopOpener()
{
    qputenv("PATH", FPath);
}

QString TFakeDesktopOpener::WaitForTarget()
{
    QFile target(FFolder.filePath(QStringLiteral("target")));
    if (!QTest::qWaitFor([&] { return target.exists(); }, 30000) || !target.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(target.readAll().trimmed());
}

QByteArray TFakeDesktopOpener::OpenedContent() const
{
    QFile content(FFolder.filePath(QStringLiteral("content")));
    return content.open(QIODevice::ReadOnly) ? content.readAll() : QByteArray();
}

void SampleWindowTest::SetUp()
{
    Form = std::make_unique<TTestForm>();
    Form->ixPop->OnSendCommand = [this](TObject*, const std::string& AText) { Sent.push_back(WithoutLineEnd(AText)); };
    Answerer = std::make_unique<TixMessageBoxAnswerer>([this](const TixShownBox& ABox) { return Answer(ABox); });
    Form->show();
}

void SampleWindowTest::TearDown()
{
    Form.reset();
    Answerer.reset();
}

void SampleWindowTest::Connect(const std::string& AUser, const std::string& APassword, const char* APeerEnv,
    bool AUseTls)
{
    auto peer = RequirePeerEnv(APeerEnv);
    Form->edtServer->setText(QStringLiteral("localhost"));
    Form->edtPort->setText(QString::fromStdString(peer[AUseTls ? "DOVECOT_TLS_PORT" : "DOVECOT_PLAIN_PORT"]));
    Form->cbUseTLS->setChecked(AUseTls);
    Form->edtUser->setText(QString::fromStdString(AUser));
    Form->edtPassword->setText(QString::fromStdString(APassword));
    Form->btnConnect->click();
}

std::vector<std::string> SampleWindowTest::SentFrom(const std::string& AFirst) const
{
    auto first = Sent.begin();
    if (!AFirst.empty())
        first = std::find(Sent.begin(), Sent.end(), AFirst);
    return {first, Sent.end()};
}

std::vector<std::string> SampleWindowTest::Column(int AColumn) const
{
    std::vector<std::string> texts;
    for (int row = 0; row < Form->lvMessages->topLevelItemCount(); ++row)
        texts.push_back(Form->lvMessages->topLevelItem(row)->text(AColumn).toStdString());
    return texts;
}

std::vector<int> SampleWindowTest::Numbers() const
{
    std::vector<int> numbers;
    for (int row = 0; row < Form->lvMessages->topLevelItemCount(); ++row)
        numbers.push_back(Form->lvMessages->topLevelItem(row)->data(0, Qt::UserRole).toInt());
    return numbers;
}

void SampleWindowTest::SelectMessage(int ANumber)
{
    for (int row = 0; row < Form->lvMessages->topLevelItemCount(); ++row) {
        QTreeWidgetItem* item = Form->lvMessages->topLevelItem(row);
        if (item->data(0, Qt::UserRole).toInt() == ANumber) {
            Form->lvMessages->setCurrentItem(item);
            return;
        }
    }
    ADD_FAILURE() << "no list item carries message " << ANumber;
}

void SampleWindowTest::DropSession()
{
    Form->ixPop->SetInProgress(true);
    Form->ixPop->Close();
    Form->ixPop->SetInProgress(false);
}

} // namespace ix::test
