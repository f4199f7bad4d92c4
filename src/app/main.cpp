#include "app/main.h"

#include "core/ixSysUtils.h"
#include "message/ixMailMessage.h"
#include "platform/ixOsKernel.h"
#include "pop3/ixPop3.h"
#include "tls/ixCertificate.h"

#include <QCloseEvent>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLocale>
#include <QMessageBox>
#include <QRegularExpression>
#include <QStringDecoder>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <string_view>

namespace ix {

namespace {

constexpr const char* Caption = "POP3 Client with SSL / TLS support - Sample";
constexpr int ProgressSteps = 1000;

// The first layout, for the panel at the window's initial size; more room goes to the lists
// and the message text.
constexpr int PanelWidth = TixDemoBaseForm::FormWidth;
constexpr int PanelHeight = TixDemoBaseForm::FormHeight - TixDemoBaseForm::LogoHeight;
constexpr int RightColumn = 525;
constexpr int ButtonWidth = 89;
constexpr int ButtonHeight = 25;
constexpr int ButtonStep = 32;
constexpr int ListTop = 107;
constexpr int ListHeight = 89;
constexpr int FromTop = 203;
constexpr int SubjectTop = 232;
constexpr int BodyTop = 260;
constexpr int BodyHeight = 93;
constexpr int BodyWidth = 597;
constexpr int Margin = 16;
constexpr int SplitHeight = 7;
constexpr int TabHeight = 22;
constexpr int TabRowHeight = 29;
constexpr int StatusHeight = 20;
constexpr int MinListHeight = 40;
constexpr int MinBodyHeight = 48;
constexpr int MinColumnWidth = 60;
constexpr int AttachmentPaneHeight = 2 * ButtonStep + ButtonHeight;
constexpr int DateWidth = 70;
constexpr int DateRole = Qt::UserRole + 1;

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
QString ToDisplay(std::string_view AText)
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

/// Shows a progress bar for the time of one operation.
class TProgressScope
{
public:
    explicit TProgressScope(QProgressBar& ABar) : FBar(ABar)
    {
        FBar.setValue(0);
        FBar.show();
    }
    ~TProgressScope() { FBar.hide(); }
    TProgressScope(const TProgressScope&) = delete;
    TProgressScope& operator=(const TProgressScope&) = delete;

private:
    QProgressBar& FBar;
};

/// A row of the message list: sorts dates by date and message numbers by number.
class TMessageItem : public QTreeWidgetItem
{
public:
    using QTreeWidgetItem::QTreeWidgetItem;

    bool operator<(const QTreeWidgetItem& AOther) const override
    {
        const int column = treeWidget() ? treeWidget()->sortColumn() : 0;
        const int order = column == TForm1::mcDate
            ? Compare(data(column, DateRole).toDouble(), AOther.data(column, DateRole).toDouble())
            : QString::localeAwareCompare(text(column), AOther.text(column));
        return order != 0 ? order < 0 : data(0, Qt::UserRole).toInt() < AOther.data(0, Qt::UserRole).toInt();
    }

private:
    static int Compare(double A, double B) { return A < B ? -1 : (B < A ? 1 : 0); }
};

/// A row of the attachment list: sorts sizes by size.
class TAttachmentItem : public QTreeWidgetItem
{
public:
    using QTreeWidgetItem::QTreeWidgetItem;

    bool operator<(const QTreeWidgetItem& AOther) const override
    {
        const int column = treeWidget() ? treeWidget()->sortColumn() : 0;
        if (column == TForm1::acSize)
            return data(column, Qt::UserRole).toLongLong() < AOther.data(column, Qt::UserRole).toLongLong();
        return QString::localeAwareCompare(text(column), AOther.text(column)) < 0;
    }
};

QTreeWidget* NewList(QWidget* AParent, const QStringList& AColumns)
{
    auto* list = new QTreeWidget(AParent);
    list->setHeaderLabels(AColumns);
    list->header()->setStretchLastSection(false);
    list->setRootIsDecorated(false);
    list->setUniformRowHeights(true);
    list->setSelectionBehavior(QAbstractItemView::SelectRows);
    list->setSelectionMode(QAbstractItemView::SingleSelection);
    list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    QPalette keepSelection = list->palette();
    for (const QPalette::ColorRole role : {QPalette::Highlight, QPalette::HighlightedText})
        keepSelection.setColor(QPalette::Inactive, role, keepSelection.color(QPalette::Active, role));
    list->setPalette(keepSelection);
    // Sorted by a click on a column header; until then in the order the items were added.
    list->header()->setSortIndicator(-1, Qt::AscendingOrder);
    list->setSortingEnabled(true);
    return list;
}

QProgressBar* NewStatusProgress(QStatusBar* AStatus, int AMaximum, const QString& AFormat)
{
    auto* bar = new QProgressBar(AStatus);
    bar->setRange(0, AMaximum);
    bar->setFormat(AFormat);
    bar->setFixedSize(180, StatusHeight - 6);
    AStatus->addPermanentWidget(bar);
    bar->hide();
    return bar;
}

/// The first text/html body of the tree ABodies, or null.
TixTextBody* FindHtmlBody(const TixMessageBodies& ABodies)
{
    for (int32_t i = 0; i < ABodies.Count(); ++i) {
        TixMessageBody& body = ABodies[i];
        if (auto* text = dynamic_cast<TixTextBody*>(&body); text && SameText(text->GetContentType(), "text/html"))
            return text;
        if (auto* multipart = dynamic_cast<TixMultipartBody*>(&body))
            if (TixTextBody* found = FindHtmlBody(multipart->GetBodies()))
                return found;
    }
    return nullptr;
}

QString JoinLines(const TStrings& ALines)
{
    QStringList text;
    text.reserve(ALines.Count());
    for (int32_t i = 0; i < ALines.Count(); ++i)
        text.append(ToDisplay(ALines.GetView(i)));
    return text.join(QLatin1Char('\n'));
}

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
        FForm.UpdateActions();
    }
    ~TExchangeScope()
    {
        FForm.FExchangeRunning = false;
        FForm.UpdateActions();
        if (FForm.FCloseRequested)
            QTimer::singleShot(0, &FForm, [form = &FForm] { form->close(); });
    }
    TExchangeScope(const TExchangeScope&) = delete;
    TExchangeScope& operator=(const TExchangeScope&) = delete;

private:
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
    BindMessageEvents();
    setMinimumSize(FormWidth, FormHeight);
    pnlMain->installEventFilter(this);
    UpdateActions();
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

    lvMessages = Place(NewList(panel, {QStringLiteral("From"), QStringLiteral("Subject"), QStringLiteral("Date"),
                           QStringLiteral("UID")}),
        {16, ListTop, 481, ListHeight});
    const int widths[] = {120, 120, DateWidth, 100};
    for (int column = 0; column < 4; ++column)
        lvMessages->setColumnWidth(column, widths[column]);
    lvMessages->installEventFilter(this);

    btnView = NewButton(panel, "View Message", {RightColumn, ListTop, ButtonWidth, ButtonHeight});
    btnDelete = NewButton(panel, "Delete Message", {RightColumn, ListTop + ButtonStep, ButtonWidth, ButtonHeight});
    Label6 = NewLabel(panel, "From", 16, FromTop);
    edtFrom = NewDisplayEdit(panel, {64, FromTop, 550, 21});
    Label7 = NewLabel(panel, "Subject", 16, SubjectTop);
    edtSubject = NewDisplayEdit(panel, {64, SubjectTop, 550, 21});
    CreateMessageArea();
    CreateAttachmentArea();

    sbStatus = new QStatusBar(panel);
    sbStatus->setSizeGripEnabled(true);
    pbList = NewStatusProgress(sbStatus, 0, QStringLiteral("%v of %m"));
    pbDownload = NewStatusProgress(sbStatus, ProgressSteps, QStringLiteral("%p%"));
    SetTabOrder();
}

void TForm1::CreateMessageArea()
{
    QWidget* panel = pnlMain;
    splList = new TixSplitHandle(panel);
    splList->OnDragStart = [this] { FSplitDragStart = FSplitOffset; };
    splList->OnDrag = [this](int ADistance) {
        FSplitOffset = FSplitDragStart + ADistance;
        ArrangeControls();
        // Dragged past where the layout lets it go, the border stays there: a drag back
        // moves it at once.
        FSplitOffset -= FSplitExcess;
        FSplitDragStart -= FSplitExcess;
    };
    memBody = Place(new QPlainTextEdit(panel), {Margin, BodyTop, BodyWidth, BodyHeight});
    memBody->setReadOnly(true);
    memBody->setLineWrapMode(QPlainTextEdit::NoWrap);
    memBody->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    memBody->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    wbBody = Place(new TixHtmlView(panel), {Margin, BodyTop, BodyWidth, BodyHeight});
    wbBody->hide();
    wbBody->OnOpenLink = [this](const QUrl& AUrl) {
        RunHandler([&] { ShellOpen(AUrl.toString(QUrl::FullyEncoded).toStdString()); });
    };
    wbBody->OnRefusedLink = [this](const QUrl& AUrl) {
        SetStatus(QStringLiteral("Not opened: %1 (only web and mail addresses are)").arg(AUrl.toDisplayString()));
    };
    tbBody = new QTabBar(panel);
    tbBody->setShape(QTabBar::RoundedSouth);
    tbBody->setDrawBase(false);
    tbBody->addTab(QStringLiteral("Text"));
    tbBody->addTab(QStringLiteral("HTML"));
    tbBody->setTabEnabled(btHtml, false);
}

void TForm1::CreateAttachmentArea()
{
    QWidget* panel = pnlMain;
    lvAttachments = NewList(panel, {QStringLiteral("Name"), QStringLiteral("Type"), QStringLiteral("Size")});
    lvAttachments->setColumnWidth(acName, 240);
    lvAttachments->setColumnWidth(acType, 140);
    lvAttachments->header()->setStretchLastSection(true);
    lvAttachments->installEventFilter(this);
    lvAttachments->hide();
    btnSave = new QPushButton(QStringLiteral("Save..."), panel);
    btnSaveAll = new QPushButton(QStringLiteral("Save All..."), panel);
    btnOpen = new QPushButton(QStringLiteral("Open"), panel);
    for (QPushButton* button : {btnSave, btnSaveAll, btnOpen})
        button->hide();
}

void TForm1::SetTabOrder()
{
    QWidget* const tabOrder[] = {edtServer, edtPort, cbUseTLS, edtUser, edtPassword, btnConnect,
        btnDisconnect, lvMessages, btnView, btnDelete, edtFrom, edtSubject, memBody, wbBody, tbBody,
        lvAttachments, btnSave, btnSaveAll, btnOpen};
    for (size_t i = 1; i < std::size(tabOrder); ++i)
        setTabOrder(tabOrder[i - 1], tabOrder[i]);
}

void TForm1::ArrangeControls()
{
    const int wider = std::max(0, pnlMain->width() - PanelWidth);
    const int higher = std::max(0, pnlMain->height() - PanelHeight);
    const int right = RightColumn + wider;
    edtServer->resize(461 + wider, edtServer->height());
    btnConnect->move(right, btnConnect->y());
    btnDisconnect->move(right, btnDisconnect->y());

    // The list and the text share the height that the attachments leave, the list a quarter of
    // what the window grew by unless the user dragged the border.
    const int pane = lvAttachments->isHidden() ? 0 : AttachmentPaneHeight + 4;
    const int shared = ListHeight + BodyHeight + higher - pane;
    const int wanted = ListHeight + higher / 4 + FSplitOffset;
    const int list = std::clamp(wanted, MinListHeight, std::max(MinListHeight, shared - MinBodyHeight));
    FSplitExcess = wanted - list;
    const int body = std::max(MinBodyHeight, shared - list);
    const int down = list - ListHeight;

    const int listWidth = 481 + wider;
    // A wider list widens the sender's column by a third of the change, the subject's by the rest.
    const int grown = listWidth - lvMessages->width();
    lvMessages->setColumnWidth(mcFrom, std::max(MinColumnWidth, lvMessages->columnWidth(mcFrom) + grown / 3));
    lvMessages->setColumnWidth(mcSubject,
        std::max(MinColumnWidth, lvMessages->columnWidth(mcSubject) + grown - grown / 3));
    lvMessages->setGeometry(Margin, ListTop, listWidth, list);
    btnView->move(right, ListTop);
    btnDelete->move(right, ListTop + ButtonStep);
    splList->setGeometry(Margin, ListTop + list, BodyWidth + wider, SplitHeight);
    Label6->move(Label6->x(), FromTop + down);
    Label7->move(Label7->x(), SubjectTop + down);
    edtFrom->setGeometry(edtFrom->x(), FromTop + down, 550 + wider, edtFrom->height());
    edtSubject->setGeometry(edtSubject->x(), SubjectTop + down, 550 + wider, edtSubject->height());
    const QRect text(Margin, BodyTop + down, BodyWidth + wider, body);
    memBody->setGeometry(text);
    wbBody->setGeometry(text);
    tbBody->setGeometry(Margin, text.bottom() + 1, tbBody->sizeHint().width(), TabHeight);

    const int paneTop = text.bottom() + 1 + TabRowHeight;
    lvAttachments->setGeometry(Margin, paneTop, listWidth, AttachmentPaneHeight);
    int buttonTop = paneTop;
    for (QPushButton* button : {btnSave, btnSaveAll, btnOpen}) {
        button->setGeometry(right, buttonTop, ButtonWidth, ButtonHeight);
        buttonTop += ButtonStep;
    }
    sbStatus->setGeometry(0, pnlMain->height() - StatusHeight, pnlMain->width(), StatusHeight);
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
    QObject::connect(btnSave, &QPushButton::clicked, this, [this] { RunHandler([this] { btnSaveClick(); }); });
    QObject::connect(btnSaveAll, &QPushButton::clicked, this, [this] { RunHandler([this] { btnSaveAllClick(); }); });
    QObject::connect(btnOpen, &QPushButton::clicked, this, [this] { RunHandler([this] { btnOpenClick(); }); });
    QObject::connect(lvAttachments, &QTreeWidget::itemDoubleClicked, this,
        [this] { RunHandler([this] { btnOpenClick(); }); });
    for (QTreeWidget* list : {lvMessages, lvAttachments})
        QObject::connect(list, &QTreeWidget::itemSelectionChanged, this, [this] { UpdateActions(); });
    QObject::connect(tbBody, &QTabBar::currentChanged, this, [this](int AIndex) { ShowBodyTab(AIndex); });
    ixPop->OnVerifyServer = [this](TObject* Sender, TixCertificate* ACertificate, const std::string& AStatusText,
                                int32_t AStatusCode, bool& AVerified) {
        ixPopVerifyServer(Sender, ACertificate, AStatusText, AStatusCode, AVerified);
    };
    ixPop->OnProgress = [this](TObject*, int64_t ABytesProceed, int64_t ATotalBytes) {
        ShowProgress(ABytesProceed, ATotalBytes);
    };
}

void TForm1::BindMessageEvents()
{
    // Attachments are decoded into memory, to be shown, saved and opened from there.
    ixMailMessage->OnSaveAttachment = [](TObject*, TixMessageBody*, std::string&, std::unique_ptr<TStream>& AData,
                                          bool&) { AData = std::make_unique<TMemoryStream>(); };
    ixMailMessage->OnAttachmentSaved = [this](TObject*, TixMessageBody* ABody, const std::string&, TStream& AData) {
        QByteArray data(static_cast<qsizetype>(AData.GetSize()), Qt::Uninitialized);
        AData.ReadBuffer(data.data(), data.size());
        FPartData.emplace_back(ABody, std::move(data));
    };
}

bool TForm1::eventFilter(QObject* AWatched, QEvent* AEvent)
{
    if (AWatched == pnlMain && AEvent->type() == QEvent::Resize)
        ArrangeControls();
    if (AEvent->type() != QEvent::KeyPress)
        return TixDemoBaseForm::eventFilter(AWatched, AEvent);
    const int key = static_cast<QKeyEvent*>(AEvent)->key();
    const bool enter = key == Qt::Key_Return || key == Qt::Key_Enter;
    if (AWatched == lvMessages && enter && btnView->isEnabled())
        btnView->click();
    else if (AWatched == lvMessages && key == Qt::Key_Delete && btnDelete->isEnabled())
        btnDelete->click();
    else if (AWatched == lvAttachments && enter && btnOpen->isEnabled())
        btnOpen->click();
    else
        return TixDemoBaseForm::eventFilter(AWatched, AEvent);
    return true;
}

void TForm1::RunExchange(void (TForm1::*AHandler)())
{
    if (FExchangeRunning)
        return;
    const TExchangeScope scope(*this);
    try {
        (this->*AHandler)();
    } catch (const std::exception& E) {
        SetStatus(FExchangeAborted ? QStringLiteral("Stopped") : QStringLiteral("Failed: ") + ToDisplay(E.what()));
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
    SetStatus(QStringLiteral("Connecting to %1...").arg(edtServer->text()));
    ixPop->Open();
    FillMessageList();
    SetStatus(QStringLiteral("Connected to %1, %2 message(s)").arg(edtServer->text()).arg(
        lvMessages->topLevelItemCount()));
}

void TForm1::FillMessageList()
{
    lvMessages->setUpdatesEnabled(false);
    lvMessages->setSortingEnabled(false);
    struct TEndUpdate
    {
        QTreeWidget* List;
        ~TEndUpdate()
        {
            List->setSortingEnabled(true);
            List->setUpdatesEnabled(true);
        }
    } endUpdate{lvMessages};
    lvMessages->clear();
    const int32_t count = ixPop->GetMessageCount();
    const TProgressScope progress(*pbList);
    pbList->setMaximum(count);
    for (int32_t i = 1; i <= count; ++i) {
        ixPop->RetrieveHeader(i, ixMailMessage.get());
        auto* item = new TMessageItem(lvMessages);
        item->setText(mcFrom, ToDisplay(ixMailMessage->GetFrom().GetFullAddress()));
        item->setText(mcSubject, ToDisplay(ixMailMessage->GetSubject()));
        item->setText(mcDate, FormatMessageDate(ixMailMessage->GetDate()));
        item->setData(mcDate, DateRole, ixMailMessage->GetDate());
        item->setText(mcUid, ToDisplay(ixPop->GetUidl(i)));
        item->setData(0, Qt::UserRole, i);
        pbList->setValue(i);
    }
    lvMessages->resizeColumnToContents(mcDate);
    lvMessages->setColumnWidth(mcDate, std::max(DateWidth, lvMessages->columnWidth(mcDate)));
}

void TForm1::btnDisconnectClick()
{
    ClearDisplay();
    ixPop->Close();
    SetStatus(QStringLiteral("Disconnected"));
}

void TForm1::ClearDisplay()
{
    lvMessages->clear();
    edtFrom->clear();
    edtSubject->clear();
    memBody->clear();
    wbBody->ClearHtml();
    // The bodies behind the data of an ended retrieval may be gone.
    FPartData.clear();
    FAttachments.clear();
    lvAttachments->clear();
    tbBody->setCurrentIndex(btText);
    tbBody->setTabEnabled(btHtml, false);
    ShowAttachments({});
}

QTreeWidgetItem* TForm1::Selected() const
{
    const QList<QTreeWidgetItem*> selection = lvMessages->selectedItems();
    return selection.isEmpty() ? nullptr : selection.first();
}

const TixShownAttachment* TForm1::SelectedAttachment() const
{
    const QList<QTreeWidgetItem*> selection = lvAttachments->selectedItems();
    if (selection.isEmpty())
        return nullptr;
    const auto index = static_cast<size_t>(selection.first()->data(acName, Qt::UserRole).toInt());
    return index < FAttachments.size() ? &FAttachments[index] : nullptr;
}

void TForm1::btnViewClick()
{
    const QTreeWidgetItem* item = Selected();
    if (!item)
        return;
    const int number = item->data(0, Qt::UserRole).toInt();
    FPartData.clear();
    {
        const TProgressScope bar(*pbDownload);
        ixPop->Retrieve(number, ixMailMessage.get());
    }
    ShowMessage();
    QString status = QStringLiteral("Message %1").arg(number);
    if (!FAttachments.empty())
        status += QStringLiteral(", %1 attachment(s)").arg(FAttachments.size());
    if (wbBody->GetBlockedCount() > 0)
        status += QStringLiteral(", %1 remote picture(s) or style sheet(s) not loaded").arg(wbBody->GetBlockedCount());
    SetStatus(status);
}

void TForm1::ShowMessage()
{
    edtFrom->setText(ToDisplay(ixMailMessage->GetFrom().GetFullAddress()));
    edtSubject->setText(ToDisplay(ixMailMessage->GetSubject()));
    memBody->setPlainText(JoinLines(ixMailMessage->MessageText()));
    TixTextBody* html = FindHtmlBody(ixMailMessage->GetBodies());
    const QString htmlText = html ? JoinLines(html->GetStrings()) : QString();
    ShowAttachments(htmlText);
    TixHtmlView::TPartData parts;
    for (const auto& [body, data] : FPartData)
        if (const auto* attachment = dynamic_cast<const TixAttachmentBody*>(body);
            attachment && !attachment->GetContentID().empty())
            parts.insert(ToDisplay(attachment->GetContentID()).toLower(), data);
    wbBody->ShowHtml(htmlText, std::move(parts));
    tbBody->setTabEnabled(btHtml, html != nullptr);
    tbBody->setCurrentIndex(html ? btHtml : btText);
    ShowBodyTab(tbBody->currentIndex());
    FPartData.clear();
}

void TForm1::ShowAttachments(const QString& AHtml)
{
    FAttachments.clear();
    lvAttachments->clear();
    lvAttachments->setSortingEnabled(false);
    for (const auto& [body, data] : FPartData) {
        const auto* attachment = dynamic_cast<const TixAttachmentBody*>(body);
        if (!attachment)
            continue;
        // A picture that the HTML text shows is part of the text, not an attachment.
        const QString id = ToDisplay(attachment->GetContentID());
        if (dynamic_cast<const TixImageBody*>(body) && !id.isEmpty()
            && AHtml.contains(QStringLiteral("cid:") + id, Qt::CaseInsensitive))
            continue;
        QString name = ToDisplay(attachment->GetFileName());
        TixShownAttachment shown{name.isEmpty() ? QStringLiteral("attachment") : name,
            ToDisplay(attachment->GetContentType()), data};
        auto* item = new TAttachmentItem(lvAttachments);
        item->setText(acName, shown.Name);
        item->setData(acName, Qt::UserRole, static_cast<int>(FAttachments.size()));
        item->setText(acType, shown.ContentType);
        item->setText(acSize, QLocale::system().formattedDataSize(shown.Data.size()));
        item->setData(acSize, Qt::UserRole, static_cast<qlonglong>(shown.Data.size()));
        item->setTextAlignment(acSize, Qt::AlignRight | Qt::AlignVCenter);
        FAttachments.push_back(std::move(shown));
    }
    lvAttachments->setSortingEnabled(true);
    const bool any = !FAttachments.empty();
    for (QWidget* control : {static_cast<QWidget*>(lvAttachments), static_cast<QWidget*>(btnSave),
             static_cast<QWidget*>(btnSaveAll), static_cast<QWidget*>(btnOpen)})
        control->setVisible(any);
    if (any)
        lvAttachments->setCurrentItem(lvAttachments->topLevelItem(0));
    ArrangeControls();
    UpdateActions();
}

void TForm1::ShowBodyTab(int AIndex)
{
    memBody->setVisible(AIndex == btText);
    wbBody->setVisible(AIndex == btHtml);
}

void TForm1::btnDeleteClick()
{
    QTreeWidgetItem* item = Selected();
    if (!item)
        return;
    const int number = item->data(0, Qt::UserRole).toInt();
    ixPop->Delete(number);
    delete lvMessages->takeTopLevelItem(lvMessages->indexOfTopLevelItem(item));
    SetStatus(QStringLiteral("Message %1 deleted").arg(number));
}

void TForm1::btnSaveClick()
{
    const TixShownAttachment* attachment = SelectedAttachment();
    if (!attachment)
        return;
    const QString path =
        AskSaveFileName(QDir(FSaveFolder).filePath(TixAttachmentWriter::SafeName(attachment->Name)));
    if (path.isEmpty())
        return;
    FSaveFolder = QFileInfo(path).absolutePath();
    TixAttachmentWriter writer([this](const QString& APath) { return AskToOverwrite(APath, false); });
    if (writer.Write(path, attachment->Data) == oaReplace)
        SetStatus(QStringLiteral("Saved %1").arg(QDir::toNativeSeparators(path)));
}

void TForm1::btnSaveAllClick()
{
    if (FAttachments.empty())
        return;
    const QString folder = AskFolder();
    if (folder.isEmpty())
        return;
    FSaveFolder = folder;
    TixAttachmentWriter writer([this](const QString& APath) { return AskToOverwrite(APath, true); });
    size_t saved = 0;
    for (const TixShownAttachment& attachment : FAttachments) {
        const TixOverwriteAnswer answer = writer.Write(writer.PathIn(folder, attachment.Name), attachment.Data);
        if (answer == oaCancel)
            break;
        saved += answer == oaReplace ? 1 : 0;
    }
    SetStatus(QStringLiteral("Saved %1 of %2 attachment(s) in %3")
                  .arg(saved)
                  .arg(FAttachments.size())
                  .arg(QDir::toNativeSeparators(folder)));
}

void TForm1::btnOpenClick()
{
    const TixShownAttachment* attachment = SelectedAttachment();
    if (!attachment)
        return;
    if (!FOpenFolder)
        FOpenFolder = std::make_unique<QTemporaryDir>();
    if (!FOpenFolder->isValid())
        throw Exception("Cannot make a folder for opened attachments: " + FOpenFolder->errorString().toStdString());
    // A folder of its own for every opened attachment: a handler may still have the last one.
    const QString folder = FOpenFolder->filePath(QString::number(++FOpenCount));
    QDir().mkpath(folder);
    TixAttachmentWriter writer([](const QString&) { return oaCancel; });
    const QString path = writer.PathIn(folder, attachment->Name);
    writer.Write(path, attachment->Data);
    QFile::setPermissions(path, QFile::ReadOwner);
    ShellOpen(path.toStdString());
    SetStatus(QStringLiteral("Opened %1").arg(attachment->Name));
}

void TForm1::UpdateActions()
{
    const bool connected = ixPop->IsActive();
    const bool idle = !FExchangeRunning;
    const bool selected = Selected() != nullptr;
    btnConnect->setEnabled(idle && !connected);
    btnDisconnect->setEnabled(connected || !idle);
    btnView->setEnabled(idle && connected && selected);
    btnDelete->setEnabled(idle && connected && selected);
    const bool attachment = SelectedAttachment() != nullptr;
    btnSave->setEnabled(attachment);
    btnOpen->setEnabled(attachment);
    btnSaveAll->setEnabled(!FAttachments.empty());
}

void TForm1::SetStatus(const QString& AText)
{
    sbStatus->showMessage(AText);
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

QString TForm1::AskSaveFileName(const QString& ASuggested)
{
    return QFileDialog::getSaveFileName(this, QStringLiteral("Save Attachment"), ASuggested, QString(), nullptr,
        QFileDialog::DontConfirmOverwrite);
}

QString TForm1::AskFolder()
{
    return QFileDialog::getExistingDirectory(this, QStringLiteral("Save All Attachments"),
        FSaveFolder.isEmpty() ? QDir::homePath() : FSaveFolder);
}

TixOverwriteAnswer TForm1::AskToOverwrite(const QString& APath, bool AMore)
{
    QMessageBox::StandardButtons buttons = QMessageBox::Yes | QMessageBox::No;
    if (AMore)
        buttons |= QMessageBox::Cancel;
    const auto answer = QMessageBox::question(this, QStringLiteral("Replace File"),
        QStringLiteral("%1 already exists.\nDo you want to replace it?").arg(QDir::toNativeSeparators(APath)),
        buttons, QMessageBox::No);
    return answer == QMessageBox::Yes ? oaReplace : answer == QMessageBox::No ? oaSkip : oaCancel;
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
