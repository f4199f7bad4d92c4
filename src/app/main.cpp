#include "app/main.h"

#include "core/ixSysUtils.h"
#include "message/ixMailMessage.h"
#include "platform/ixOsKernel.h"
#include "pop3/ixPop3.h"
#include "tls/ixCertificate.h"

#include <QCloseEvent>
#include <QDateTime>
#include <QHeaderView>
#include <QLocale>
#include <QMessageBox>
#include <QRegularExpression>
#include <QStringDecoder>
#include <QTimer>

#include <algorithm>
#include <cmath>

namespace ix {

namespace {

constexpr const char* Caption = "POP3 Client with SSL / TLS support - Sample";
constexpr int ProgressSteps = 1000;

struct TPlace
{
    int Left;
    int Top;
    int Width;
    int Height;
};

QLabel* NewLabel(QWidget* AParent, const char* ACaption, int ALeft, int ATop)
{
    auto* label = new QLabel(QString::fromLatin1(ACaption), AParent);
    label->move(ALeft, ATop);
    label->adjustSize();
    return label;
}

template <typename TControl>
TControl* Place(TControl* AControl, const TPlace& APlace)
{
    AControl->setGeometry(APlace.Left, APlace.Top, APlace.Width, APlace.Height);
    return AControl;
}

QLineEdit* NewEdit(QWidget* AParent, const char* AText, const TPlace& APlace)
{
    return Place(new QLineEdit(QString::fromLatin1(AText), AParent), APlace);
}

/// A read-only edit with the button face as its background.
QLineEdit* NewDisplayEdit(QWidget* AParent, const TPlace& APlace)
{
    QLineEdit* edit = NewEdit(AParent, "", APlace);
    edit->setReadOnly(true);
    QPalette face = edit->palette();
    face.setColor(QPalette::Base, face.color(QPalette::Button));
    edit->setPalette(face);
    return edit;
}

QPushButton* NewButton(QWidget* AParent, const char* ACaption, const TPlace& APlace)
{
    return Place(new QPushButton(QString::fromLatin1(ACaption), AParent), APlace);
}

/// The library's 8-bit text for the screen. The window selects UTF-8 as the ANSI code page, but
/// the 8-bit character sets of messages arrive as bytes of their Windows code page; text that is
/// not UTF-8 is shown as Windows-1252.
QString ToDisplay(const std::string& AText)
{
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8(QByteArrayView(AText.data(), static_cast<qsizetype>(AText.size())));
    if (!utf8.hasError())
        return text;
    const int size = static_cast<int>(AText.size());
    std::u16string wide(AText.size(), u'\0');
    const int count = os::MultiByteToWideChar(1252, 0, AText.data(), size, wide.data(), size);
    return QString::fromUtf16(wide.data(), count);
}

/// The desktop's long time format, without the time zone that Qt's long format adds.
QString LongTimeFormat(const QLocale& ALocale)
{
    QString format = ALocale.timeFormat(QLocale::LongFormat);
    format.remove(QRegularExpression(QStringLiteral("\\s*\\bt+\\b")));
    return format.trimmed();
}

/// Shows the download bar for the time of one retrieval.
class TDownloadBar
{
public:
    explicit TDownloadBar(QProgressBar& ABar) : FBar(ABar)
    {
        FBar.setValue(0);
        FBar.show();
    }
    ~TDownloadBar() { FBar.hide(); }
    TDownloadBar(const TDownloadBar&) = delete;
    TDownloadBar& operator=(const TDownloadBar&) = delete;

private:
    QProgressBar& FBar;
};

} // namespace

QString FormatMessageDate(TDateTime ADate)
{
    if (ADate == 0)
        return {};
    const TDateParts parts = DecodeDateTime(ADate);
    const QLocale locale = QLocale::system();
    QString text = locale.toString(QDate(parts.Year, parts.Month, parts.Day), QLocale::ShortFormat);
    if (parts.Hour != 0 || parts.Minute != 0 || parts.Second != 0 || parts.MilliSecond != 0)
        text += QLatin1Char(' ')
            + locale.toString(QTime(parts.Hour, parts.Minute, parts.Second), LongTimeFormat(locale));
    return text;
}

/// Marks a handler's exchange: the buttons that would start another one are disabled.
class TForm1::TExchangeScope
{
public:
    explicit TExchangeScope(TForm1& AForm) : FForm(AForm)
    {
        FForm.FExchangeRunning = true;
        FForm.FExchangeAborted = false;
        SetButtonsEnabled(false);
    }
    ~TExchangeScope()
    {
        FForm.FExchangeRunning = false;
        SetButtonsEnabled(true);
        if (FForm.FCloseRequested)
            QTimer::singleShot(0, &FForm, [form = &FForm] { form->close(); });
    }
    TExchangeScope(const TExchangeScope&) = delete;
    TExchangeScope& operator=(const TExchangeScope&) = delete;

private:
    void SetButtonsEnabled(bool AEnabled)
    {
        FForm.btnConnect->setEnabled(AEnabled);
        FForm.btnView->setEnabled(AEnabled);
        FForm.btnDelete->setEnabled(AEnabled);
    }

    TForm1& FForm;
};

TForm1::TForm1(QWidget* AParent)
    : TixDemoBaseForm(AParent), ixPop(std::make_unique<TixPop3>()),
      ixMailMessage(std::make_unique<TixMailMessage>())
{
    setWindowTitle(QString::fromLatin1(Caption));
    ixMailMessage->SetCharSet("iso-8859-1");
    ixMailMessage->SetContentType("text/plain");
    CreateControls();
    BindHandlers();
}

TForm1::~TForm1()
{
    // The client says QUIT when it is destroyed connected; the window is half gone by then, so
    // that last exchange must not run the window's events.
    ixPop->SetDisableGuiProcessing(true);
}

void TForm1::CreateControls()
{
    QWidget* panel = pnlMain;
    Label1 = NewLabel(panel, "Server", 15, 10);
    edtServer = NewEdit(panel, "localhost", {56, 8, 461, 21});
    Label2 = NewLabel(panel, "Port", 15, 38);
    edtPort = NewEdit(panel, "995", {56, 35, 49, 21});
    cbUseTLS = Place(new QCheckBox(QStringLiteral("Use SSL / TLS"), panel), {304, 36, 145, 17});
    cbUseTLS->setChecked(true);
    Label4 = NewLabel(panel, "User", 15, 66);
    edtUser = NewEdit(panel, "IvoryTester", {56, 64, 169, 21});
    Label5 = NewLabel(panel, "Password", 251, 67);
    edtPassword = NewEdit(panel, "samplepasswd", {304, 64, 145, 21});
    edtPassword->setEchoMode(QLineEdit::Password);
    edtPassword->setStyleSheet(QStringLiteral("lineedit-password-character: 42;"));
    btnConnect = NewButton(panel, "Connect", {525, 8, 89, 25});
    btnDisconnect = NewButton(panel, "Disconnect", {525, 39, 89, 25});
    Label3 = NewLabel(panel, "Messages", 16, 89);

    lvMessages = Place(new QTreeWidget(panel), {16, 107, 481, 89});
    lvMessages->setHeaderLabels({QStringLiteral("From"), QStringLiteral("Subject"), QStringLiteral("Date"),
        QStringLiteral("UID")});
    const int widths[] = {120, 120, 70, 100};
    for (int column = 0; column < 4; ++column)
        lvMessages->setColumnWidth(column, widths[column]);
    lvMessages->header()->setStretchLastSection(false);
    lvMessages->setRootIsDecorated(false);
    lvMessages->setUniformRowHeights(true);
    lvMessages->setSelectionBehavior(QAbstractItemView::SelectRows);
    lvMessages->setSelectionMode(QAbstractItemView::SingleSelection);
    lvMessages->setEditTriggers(QAbstractItemView::NoEditTriggers);
    QPalette keepSelection = lvMessages->palette();
    for (const QPalette::ColorRole role : {QPalette::Highlight, QPalette::HighlightedText})
        keepSelection.setColor(QPalette::Inactive, role, keepSelection.color(QPalette::Active, role));
    lvMessages->setPalette(keepSelection);

    btnView = NewButton(panel, "View Message", {525, 107, 89, 25});
    btnDelete = NewButton(panel, "Delete Message", {525, 139, 89, 25});
    Label6 = NewLabel(panel, "From", 16, 203);
    edtFrom = NewDisplayEdit(panel, {64, 203, 550, 21});
    Label7 = NewLabel(panel, "Subject", 16, 232);
    edtSubject = NewDisplayEdit(panel, {64, 232, 550, 21});
    memBody = Place(new QPlainTextEdit(panel), {16, 260, 597, 93});
    memBody->setReadOnly(true);
    memBody->setLineWrapMode(QPlainTextEdit::NoWrap);
    memBody->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    memBody->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);

    pbDownload = Place(new QProgressBar(panel), {16, 360, 597, 16});
    pbDownload->setRange(0, ProgressSteps);
    pbDownload->hide();

    QWidget* const tabOrder[] = {edtServer, edtPort, cbUseTLS, edtUser, edtPassword, btnConnect,
        btnDisconnect, lvMessages, btnView, btnDelete, edtFrom, edtSubject, memBody};
    for (size_t i = 1; i < std::size(tabOrder); ++i)
        setTabOrder(tabOrder[i - 1], tabOrder[i]);
}

void TForm1::BindHandlers()
{
    QObject::connect(btnConnect, &QPushButton::clicked, this, [this] { RunExchange(&TForm1::btnConnectClick); });
    QObject::connect(btnView, &QPushButton::clicked, this, [this] { RunExchange(&TForm1::btnViewClick); });
    QObject::connect(lvMessages, &QTreeWidget::itemDoubleClicked, this,
        [this] { RunExchange(&TForm1::btnViewClick); });
    QObject::connect(btnDelete, &QPushButton::clicked, this, [this] { RunExchange(&TForm1::btnDeleteClick); });
    QObject::connect(btnDisconnect, &QPushButton::clicked, this, [this] {
        if (!FExchangeRunning) {
            RunExchange(&TForm1::btnDisconnectClick);
            return;
        }
        // Ends the running exchange: Close aborts its wait. No QUIT may go out in the middle of
        // that exchange, which the client's in-progress flag ensures.
        FExchangeAborted = true;
        const bool inProgress = ixPop->GetInProgress();
        ixPop->SetInProgress(true);
        RunHandler([this] { btnDisconnectClick(); });
        ixPop->SetInProgress(inProgress);
    });
    ixPop->OnVerifyServer = [this](TObject* Sender, TixCertificate* ACertificate, const std::string& AStatusText,
                                int32_t AStatusCode, bool& AVerified) {
        ixPopVerifyServer(Sender, ACertificate, AStatusText, AStatusCode, AVerified);
    };
    ixPop->OnProgress = [this](TObject*, int64_t ABytesProceed, int64_t ATotalBytes) {
        ShowProgress(ABytesProceed, ATotalBytes);
    };
}

void TForm1::RunExchange(void (TForm1::*AHandler)())
{
    if (FExchangeRunning)
        return;
    const TExchangeScope scope(*this);
    try {
        (this->*AHandler)();
    } catch (const std::exception& E) {
        // After Disconnect ended the exchange its failure is expected, not an error to show.
        if (!FExchangeAborted)
            ShowException(E);
    }
    if (FExchangeAborted)
        ClearDisplay();
}

void TForm1::btnConnectClick()
{
    if (ixPop->IsActive())
        return;
    FVerified = false;
    ixPop->SetServer(edtServer->text().toStdString());
    ixPop->SetPort(StrToInt(edtPort->text().toStdString()));
    ixPop->SetUserName(edtUser->text().toStdString());
    ixPop->SetPassword(edtPassword->text().toStdString());
    ixPop->SetUseTLS(cbUseTLS->isChecked() ? ctAutomatic : ctNone);
    ixPop->Open();
    FillMessageList();
}

void TForm1::FillMessageList()
{
    lvMessages->setUpdatesEnabled(false);
    struct TEndUpdate
    {
        QTreeWidget* List;
        ~TEndUpdate() { List->setUpdatesEnabled(true); }
    } endUpdate{lvMessages};
    lvMessages->clear();
    const int32_t count = ixPop->GetMessageCount();
    for (int32_t i = 1; i <= count; ++i) {
        ixPop->RetrieveHeader(i, ixMailMessage.get());
        auto* item = new QTreeWidgetItem(lvMessages);
        item->setText(0, ToDisplay(ixMailMessage->GetFrom().GetFullAddress()));
        item->setText(1, ToDisplay(ixMailMessage->GetSubject()));
        item->setText(2, FormatMessageDate(ixMailMessage->GetDate()));
        item->setText(3, ToDisplay(ixPop->GetUidl(i)));
        item->setData(0, Qt::UserRole, i);
    }
}

void TForm1::btnDisconnectClick()
{
    ClearDisplay();
    ixPop->Close();
}

void TForm1::ClearDisplay()
{
    lvMessages->clear();
    edtFrom->clear();
    edtSubject->clear();
    memBody->clear();
}

QTreeWidgetItem* TForm1::Selected() const
{
    const QList<QTreeWidgetItem*> selection = lvMessages->selectedItems();
    return selection.isEmpty() ? nullptr : selection.first();
}

void TForm1::btnViewClick()
{
    const QTreeWidgetItem* item = Selected();
    if (!item)
        return;
    {
        const TDownloadBar bar(*pbDownload);
        ixPop->Retrieve(item->data(0, Qt::UserRole).toInt(), ixMailMessage.get());
    }
    edtFrom->setText(ToDisplay(ixMailMessage->GetFrom().GetFullAddress()));
    edtSubject->setText(ToDisplay(ixMailMessage->GetSubject()));
    const TStringList& lines = ixMailMessage->MessageText();
    QStringList text;
    text.reserve(lines.Count());
    for (int32_t i = 0; i < lines.Count(); ++i)
        text.append(ToDisplay(lines[i]));
    memBody->setPlainText(text.join(QLatin1Char('\n')));
}

void TForm1::btnDeleteClick()
{
    QTreeWidgetItem* item = Selected();
    if (!item)
        return;
    ixPop->Delete(item->data(0, Qt::UserRole).toInt());
    delete lvMessages->takeTopLevelItem(lvMessages->indexOfTopLevelItem(item));
}

void TForm1::ixPopVerifyServer(TObject* Sender, TixCertificate* ACertificate, const std::string& AStatusText,
    int32_t AStatusCode, bool& AVerified)
{
    (void)Sender;
    (void)ACertificate;
    (void)AStatusCode;
    if (!AVerified)
        AVerified = FVerified;
    if (!AVerified && AskToProceed(AStatusText + ProceedQuestion)) {
        AVerified = true;
        FVerified = true;
    }
}

bool TForm1::AskToProceed(const std::string& AText)
{
    const auto answer = QMessageBox::warning(this, QStringLiteral("Warning"), ToDisplay(AText),
        QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes);
    return answer == QMessageBox::Yes;
}

void TForm1::ShowProgress(int64_t ABytesProceed, int64_t ATotalBytes)
{
    if (ATotalBytes <= 0)
        return;
    const double done = static_cast<double>(ABytesProceed) / static_cast<double>(ATotalBytes);
    pbDownload->setValue(static_cast<int>(std::lround(std::clamp(done, 0.0, 1.0) * ProgressSteps)));
}

void TForm1::closeEvent(QCloseEvent* AEvent)
{
    if (!FExchangeRunning) {
        TixDemoBaseForm::closeEvent(AEvent);
        return;
    }
    // The window's handler is still on the stack below this event: end its exchange and close
    // once it has returned.
    FCloseRequested = true;
    AEvent->ignore();
    btnDisconnect->click();
}

} // namespace ix
