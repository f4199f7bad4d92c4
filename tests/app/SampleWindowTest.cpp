// The window as it opens: its controls, the banner and the date display.
#include "SampleWindowTestSupport.h"

#include <QTest>

namespace ix::test {

using SampleWindowLayout = SampleWindowTest;

// The designed window: places, captions and first contents of the controls, the message list's
// columns, the tab order (that of the places table), the banner's three pictures, which open
// the support page, and how the list shows dates.
TEST_F(SampleWindowLayout, ControlsListTabOrderBannerAndDateDisplayAreThoseOfTheDesign)
{
    TForm1& form = *Form;
    EXPECT_EQ(form.windowTitle(), QStringLiteral("POP3 Client with SSL / TLS support - Sample"));
    EXPECT_EQ(form.size(), QSize(639, 480));
    const std::tuple<const char*, QWidget*, QRect> places[] = {
        {"edtServer", form.edtServer, {56, 8, 461, 21}},
        {"edtPort", form.edtPort, {56, 35, 49, 21}},
        {"cbUseTLS", form.cbUseTLS, {304, 36, 145, 17}},
        {"edtUser", form.edtUser, {56, 64, 169, 21}},
        {"edtPassword", form.edtPassword, {304, 64, 145, 21}},
        {"btnConnect", form.btnConnect, {525, 8, 89, 25}},
        {"btnDisconnect", form.btnDisconnect, {525, 39, 89, 25}},
        {"lvMessages", form.lvMessages, {16, 107, 481, 89}},
        {"btnView", form.btnView, {525, 107, 89, 25}},
        {"btnDelete", form.btnDelete, {525, 139, 89, 25}},
        {"edtFrom", form.edtFrom, {64, 203, 550, 21}},
        {"edtSubject", form.edtSubject, {64, 232, 550, 21}},
        {"memBody", form.memBody, {16, 260, 597, 93}},
    };
    std::vector<QWidget*> tabOrder;
    for (const auto& [name, control, place] : places) {
        EXPECT_EQ(control->parentWidget(), form.pnlMain) << name;
        EXPECT_EQ(control->geometry(), place) << name;
        tabOrder.push_back(control);
    }
    // Captions and first contents.
    const std::pair<QWidget*, const char*> texts[] = {{form.Label1, "Server"}, {form.Label2, "Port"},
        {form.Label3, "Messages"}, {form.Label4, "User"}, {form.Label5, "Password"}, {form.Label6, "From"},
        {form.Label7, "Subject"}, {form.edtServer, "localhost"}, {form.edtPort, "995"}, {form.edtUser, "IvoryTester"},
        {form.edtPassword, "samplepasswd"}, {form.cbUseTLS, "Use SSL / TLS"}, {form.btnView, "View Message"},
        {form.btnDelete, "Delete Message"}, {form.edtFrom, ""}, {form.edtSubject, ""}};
    for (const auto& [widget, text] : texts)
        EXPECT_EQ(widget->property("text").toString(), QString::fromUtf8(text)) << text;
    EXPECT_EQ(form.Label5->pos(), QPoint(251, 67));
    EXPECT_TRUE(form.cbUseTLS->isChecked());
    EXPECT_EQ(form.edtPassword->echoMode(), QLineEdit::Password);
    EXPECT_TRUE(form.edtFrom->isReadOnly() && form.edtSubject->isReadOnly() && form.memBody->isReadOnly());
    EXPECT_TRUE(form.memBody->toPlainText().isEmpty());
    EXPECT_EQ(form.lvMessages->topLevelItemCount(), 0);
    EXPECT_FALSE(form.pbDownload->isVisible());

    QTreeWidget& list = *form.lvMessages;
    const std::pair<QString, int> columns[] = {{"From", 120}, {"Subject", 120}, {"Date", 70}, {"UID", 100}};
    ASSERT_EQ(list.columnCount(), 4);
    for (int column = 0; column < 4; ++column) {
        EXPECT_EQ(list.headerItem()->text(column), columns[column].first);
        EXPECT_EQ(list.columnWidth(column), columns[column].second);
    }
    EXPECT_EQ(list.selectionBehavior(), QAbstractItemView::SelectRows);
    EXPECT_EQ(list.selectionMode(), QAbstractItemView::SingleSelection);
    EXPECT_EQ(list.editTriggers(), QAbstractItemView::NoEditTriggers);
    EXPECT_EQ(list.palette().color(QPalette::Inactive, QPalette::Highlight),
        list.palette().color(QPalette::Active, QPalette::Highlight));

    std::vector<QWidget*> visited;
    QWidget* widget = form.edtServer;
    do {
        if (std::find(tabOrder.begin(), tabOrder.end(), widget) != tabOrder.end())
            visited.push_back(widget);
        widget = widget->nextInFocusChain();
    } while (widget != form.edtServer && visited.size() <= tabOrder.size());
    EXPECT_EQ(visited, tabOrder);

    EXPECT_EQ(form.pnlLogo->geometry(), QRect(0, 0, 639, 78));
    EXPECT_EQ(form.pnlMain->geometry(), QRect(0, 78, 639, 480 - 78));
    EXPECT_EQ(form.imLogoLeft->geometry(), QRect(0, 0, 406, 78));
    EXPECT_EQ(form.imLogoMiggle->geometry(), QRect(406, 0, 639 - 406 - 209, 78));
    EXPECT_EQ(form.imLogoRight->geometry(), QRect(639 - 209, 0, 209, 78));
    for (const TixImage* image : {form.imLogoLeft, form.imLogoMiggle, form.imLogoRight}) {
        EXPECT_FALSE(image->pixmap().isNull());
        EXPECT_EQ(image->cursor().shape(), Qt::PointingHandCursor);
    }
    EXPECT_EQ(form.imLogoLeft->pixmap().size(), QSize(406, 78));
    EXPECT_EQ(form.imLogoRight->pixmap().size(), QSize(209, 78));

    // A click on the banner opens the support page with the desktop's open command.
    TFakeDesktopOpener opener;
    QTest::mouseClick(Form->imLogoRight, Qt::LeftButton);
    EXPECT_EQ(opener.WaitForTarget().toStdString(), Form->GetSupportUrl()) << "the banner click started no xdg-open";
    EXPECT_EQ(Form->GetSupportUrl().rfind("file://", 0), 0u);
    EXPECT_TRUE(Answerer->GetBoxes().empty());

    // Message dates: the date alone at midnight, with the time otherwise.
    const QLocale locale = QLocale::system();
    const QString date = locale.toString(QDate(2008, 6, 3), QLocale::ShortFormat);
    EXPECT_EQ(FormatMessageDate(EncodeDate(2008, 6, 3)), date);
    const QString withTime = FormatMessageDate(EncodeDate(2008, 6, 3) + EncodeTime(10, 20, 30, 0));
    EXPECT_TRUE(withTime.startsWith(date + QLatin1Char(' '))) << withTime.toStdString();
    EXPECT_TRUE(withTime.contains(QStringLiteral("20:30"))) << withTime.toStdString();
    EXPECT_TRUE(FormatMessageDate(0).isEmpty());
}

} // namespace ix::test
