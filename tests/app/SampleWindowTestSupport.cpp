#include "SampleWindowTestSupport.h"

#include "core/ixSysUtils.h"
#include "pop3/ixPop3.h"

#include <QApplication>
#include <QFile>
#include <QTest>


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
    QFile content(FFolder.filePath(QStringLiteral("content")));
    Content = content.open(QIODevice::ReadOnly) ? content.readAll() : QByteArray();
    return QString::fromUtf8(target.readAll().trimmed());
}

void SampleWindowTest::SetUp()
{
    Form = std::make_unique<TTestForm>();
    Form->ixPop->OnSendCommand = [this](TObject*, const std::string& AText) { Sent.push_back(TrimRight(AText)); };
    Answerer = std::make_unique<TixMessageBoxAnswerer>([this](const TixShownBox& ABox) { return Answer(ABox); });
    Form->show();
}

void SampleWindowTest::Connect(const std::string& AUser, const std::string& APassword, const char* APeerEnv)
{
    Form->edtPort->setText(QString::fromStdString(RequirePeerEnv(APeerEnv)["DOVECOT_TLS_PORT"]));
    Form->edtUser->setText(QString::fromStdString(AUser));
    Form->edtPassword->setText(QString::fromStdString(APassword));
    Form->btnConnect->click();
}

std::vector<std::string> SampleWindowTest::SentFrom(const std::string& AFirst) const
{
    return {std::find(Sent.begin(), Sent.end(), AFirst), Sent.end()};
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
    const std::vector<int> numbers = Numbers();
    const auto row = std::find(numbers.begin(), numbers.end(), ANumber);
    ASSERT_NE(row, numbers.end()) << "no list item carries message " << ANumber;
    Form->lvMessages->setCurrentItem(Form->lvMessages->topLevelItem(static_cast<int>(row - numbers.begin())));
}

} // namespace ix::test
