#pragma once
// The POP3 sample window: connect to a mailbox, list its messages, read, delete, disconnect.

#include "app/DemoBaseFormUnit.h"
#include "app/ixAttachmentFiles.h"
#include "app/ixHtmlView.h"
#include "app/ixSplitHandle.h"
#include "core/ixDateUtils.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>
#include <QTabBar>
#include <QTreeWidget>

#include <memory>
#include <string>
#include <vector>

class QTemporaryDir;

namespace ix {

class TObject;
class TixCertificate;
class TixMailMessage;
class TixMessageBody;
class TixPop3;

/// A message date as the desktop shows dates: short date, a blank, long time; the date alone at
/// midnight; empty for a message without a date (0).
QString FormatMessageDate(TDateTime ADate);

class TForm1 : public TixDemoBaseForm
{
public:
    /// The text that follows the verification error in the certificate question.
    static constexpr const char* ProceedQuestion = "\r\n Do you wish to proceed ?";
    /// Tabs of tbBody: the message's text lines (memBody), its HTML rendered (wbBody).
    enum TBodyTab : uint8_t { btText, btHtml };
    /// Columns of lvMessages and lvAttachments.
    enum TMessageColumn : uint8_t { mcFrom, mcSubject, mcDate, mcUid };
    enum TAttachmentColumn : uint8_t { acName, acType, acSize };

    explicit TForm1(QWidget* AParent = nullptr);
    ~TForm1() override;

    /// Connects, logs in and fills the list; does nothing while connected.
    void btnConnectClick();
    /// Empties the list and the fields, then closes the client (QUIT when connected).
    void btnDisconnectClick();
    /// Retrieves the selected message and shows its sender, subject and text.
    void btnViewClick();
    /// Deletes the selected message on the server and removes its item.
    void btnDeleteClick();
    /// Saves the selected attachment as a file the user names.
    void btnSaveClick();
    /// Saves every attachment of the shown message into a folder the user picks.
    void btnSaveAllClick();
    /// Opens the selected attachment with the desktop's handler for its type.
    void btnOpenClick();
    /// Asks the user, at most once per Connect, whether to accept a server that failed
    /// verification.
    void ixPopVerifyServer(TObject* Sender, TixCertificate* ACertificate, const std::string& AStatusText,
        int32_t AStatusCode, bool& AVerified);

    /// True while a handler's exchange with the server runs (its buttons are disabled).
    bool IsExchangeRunning() const noexcept { return FExchangeRunning; }

    QLabel* Label1;
    QLineEdit* edtServer;
    QLabel* Label2;
    QLineEdit* edtPort;
    QCheckBox* cbUseTLS;
    QLabel* Label4;
    QLineEdit* edtUser;
    QLabel* Label5;
    QLineEdit* edtPassword;
    QPushButton* btnConnect;
    QPushButton* btnDisconnect;
    QLabel* Label3;
    QTreeWidget* lvMessages;
    QPushButton* btnView;
    QPushButton* btnDelete;
    QLabel* Label6;
    QLineEdit* edtFrom;
    QLabel* Label7;
    QLineEdit* edtSubject;
    QPlainTextEdit* memBody;
    /// Moves the border between the message list and the message.
    TixSplitHandle* splList;
    /// Chooses what the message area shows: memBody or wbBody.
    QTabBar* tbBody;
    /// The HTML text of the shown message, rendered; over the same area as memBody.
    TixHtmlView* wbBody;
    /// The attachments of the shown message (name, type, size); shown when it has some.
    QTreeWidget* lvAttachments;
    QPushButton* btnSave;
    QPushButton* btnSaveAll;
    QPushButton* btnOpen;
    /// The outcome of the last operation, and the progress bars.
    QStatusBar* sbStatus;
    /// Progress of a message download; shown only while one runs.
    QProgressBar* pbDownload;
    /// Progress of listing the mailbox (n of N); shown only while it runs.
    QProgressBar* pbList;

    const std::unique_ptr<TixPop3> ixPop;
    const std::unique_ptr<TixMailMessage> ixMailMessage;

    /// The attachments of the shown message, in list order.
    const std::vector<TixShownAttachment>& GetAttachments() const noexcept { return FAttachments; }

protected:
    /// Shows the certificate question; true when the user answers Yes.
    virtual bool AskToProceed(const std::string& AText);
    /// Asks where to save an attachment, starting at ASuggested; empty when cancelled.
    virtual QString AskSaveFileName(const QString& ASuggested);
    /// Asks for the folder to save every attachment in; empty when cancelled.
    virtual QString AskFolder();
    /// Asks whether the existing file APath may be replaced.
    virtual TixOverwriteAnswer AskToOverwrite(const QString& APath, bool AMore);
    void closeEvent(QCloseEvent* AEvent) override;
    bool eventFilter(QObject* AWatched, QEvent* AEvent) override;

private:
    class TExchangeScope;

    void CreateControls();
    void CreateMessageArea();
    void CreateAttachmentArea();
    void SetTabOrder();
    void BindHandlers();
    void BindMessageEvents();
    void FillMessageList();
    void ClearDisplay();
    void ShowMessage();
    void ShowAttachments(const QString& AHtml);
    void ShowBodyTab(int AIndex);
    /// Places the controls for the panel's size: the initial size gives the first layout,
    /// more room goes to the lists and the message text.
    void ArrangeControls();
    /// Enables the buttons from the connection, the selections and a running exchange.
    void UpdateActions();
    void SetStatus(const QString& AText);
    /// Runs a handler that talks to the server, unless another one already does.
    void RunExchange(void (TForm1::*AHandler)());
    void ShowProgress(int64_t ABytesProceed, int64_t ATotalBytes);
    QTreeWidgetItem* Selected() const;
    const TixShownAttachment* SelectedAttachment() const;

    bool FVerified = false;
    bool FExchangeRunning = false;
    /// Set when Disconnect ends a running exchange: its failure is the user's doing.
    bool FExchangeAborted = false;
    bool FCloseRequested = false;
    /// Extra height of the message list that the user dragged splList by.
    int FSplitOffset = 0;
    int FSplitDragStart = 0;
    /// How far the last layout fell short of the list height that FSplitOffset asked for.
    int FSplitExcess = 0;
    /// Decoded data of the attachment bodies of the message being retrieved.
    std::vector<std::pair<const TixMessageBody*, QByteArray>> FPartData;
    std::vector<TixShownAttachment> FAttachments;
    /// The folder the file dialogs start in: the last one used, else the home folder.
    QString FSaveFolder;
    /// Private copies of opened attachments, removed when the window goes.
    std::unique_ptr<QTemporaryDir> FOpenFolder;
    int FOpenCount = 0;
};

} // namespace ix
