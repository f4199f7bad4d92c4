#pragma once
// The POP3 sample window: connect to a mailbox, list its messages, read, delete, disconnect.

#include "app/DemoBaseFormUnit.h"
#include "core/ixDateUtils.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTreeWidget>

#include <memory>
#include <string>

namespace ix {

class TObject;
class TixCertificate;
class TixMailMessage;
class TixPop3;

/// A message date as the desktop shows dates: short date, a blank, long time; the date alone at
/// midnight; empty for a message without a date (0).
QString FormatMessageDate(TDateTime ADate);

class TForm1 : public TixDemoBaseForm
{
public:
    /// The text that follows the verification error in the certificate question.
    static constexpr const char* ProceedQuestion = "\r\n Do you wish to proceed ?";

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
    /// Progress of a message download; shown only while one runs.
    QProgressBar* pbDownload;

    const std::unique_ptr<TixPop3> ixPop;
    const std::unique_ptr<TixMailMessage> ixMailMessage;

protected:
    /// Shows the certificate question; true when the user answers Yes.
    virtual bool AskToProceed(const std::string& AText);
    void closeEvent(QCloseEvent* AEvent) override;

private:
    class TExchangeScope;

    void CreateControls();
    void BindHandlers();
    void FillMessageList();
    void ClearDisplay();
    /// Runs a handler that talks to the server, unless another one already does.
    void RunExchange(void (TForm1::*AHandler)());
    void ShowProgress(int64_t ABytesProceed, int64_t ATotalBytes);
    QTreeWidgetItem* Selected() const;

    bool FVerified = false;
    bool FExchangeRunning = false;
    /// Set when Disconnect ends a running exchange: its failure is the user's doing.
    bool FExchangeAborted = false;
    bool FCloseRequested = false;
};

} // namespace ix
