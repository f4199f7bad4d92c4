#include "app/DemoBaseFormUnit.h"

#include "core/ixSysUtils.h"
#include "platform/ixOsKernel.h"
#include "platform/ixOsShell.h"

#include <QGuiApplication>
#include <QHBoxLayout>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPixmap>
#include <QScreen>
#include <QVBoxLayout>

#ifndef IX_SUPPORT_URL
#error "IX_SUPPORT_URL names the support page (set by the build)"
#endif

// The banner pictures are compiled into the library as the resource "ixbanner".
static void InitBannerResources()
{
    Q_INIT_RESOURCE(ixbanner);
}

namespace ix {

TixImage::TixImage(QWidget* AParent) : QLabel(AParent)
{
    setCursor(Qt::PointingHandCursor);
}

void TixImage::mouseReleaseEvent(QMouseEvent* AEvent)
{
    QLabel::mouseReleaseEvent(AEvent);
    if (AEvent->button() == Qt::LeftButton && rect().contains(AEvent->position().toPoint()) && OnClick)
        OnClick();
}

TixDemoBaseForm::TixDemoBaseForm(QWidget* AParent)
    : QWidget(AParent), FMessagePump([this](const std::exception& E) { ShowException(E); })
{
    InitBannerResources();
    os::SetAnsiCodePage(os::CP_UTF8);

    QFont formFont(QStringLiteral("Tahoma"));
    formFont.setPixelSize(FontPixelSize);
    setFont(formFont);
    QPalette face = palette();
    face.setColor(QPalette::Window, face.color(QPalette::Button));
    setPalette(face);
    setAutoFillBackground(true);

    pnlLogo = new QWidget(this);
    pnlLogo->setFixedHeight(LogoHeight);
    imLogoLeft = NewLogoImage(":/ixbanner/logo_left.png");
    imLogoLeft->setFixedWidth(LogoLeftWidth);
    imLogoMiggle = NewLogoImage(":/ixbanner/logo_middle.png");
    imLogoMiggle->setScaledContents(true);
    imLogoMiggle->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    imLogoRight = NewLogoImage(":/ixbanner/logo_right.png");
    imLogoRight->setFixedWidth(LogoRightWidth);
    auto* logoRow = new QHBoxLayout(pnlLogo);
    logoRow->setContentsMargins(0, 0, 0, 0);
    logoRow->setSpacing(0);
    logoRow->addWidget(imLogoLeft);
    logoRow->addWidget(imLogoMiggle, 1);
    logoRow->addWidget(imLogoRight);

    pnlMain = new QWidget(this);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    column->addWidget(pnlLogo);
    column->addWidget(pnlMain, 1);

    resize(FormWidth, FormHeight);
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}

TixDemoBaseForm::~TixDemoBaseForm() = default;

TixImage* TixDemoBaseForm::NewLogoImage(const char* AResource)
{
    auto* image = new TixImage(pnlLogo);
    image->setPixmap(QPixmap(QString::fromLatin1(AResource)));
    image->setFixedHeight(LogoHeight);
    image->OnClick = [this] { RunHandler([this] { imLogoLeftClick(); }); };
    return image;
}

std::string TixDemoBaseForm::GetSupportUrl() const
{
    return IX_SUPPORT_URL;
}

void TixDemoBaseForm::imLogoLeftClick()
{
    ShellOpen(GetSupportUrl());
}

void TixDemoBaseForm::ShellOpen(const std::string& ATarget)
{
    const auto result = reinterpret_cast<intptr_t>(
        os::ShellExecuteA(nullptr, "open", ATarget.c_str(), nullptr, nullptr, os::SW_RESTORE));
    if (result <= 32)
        throw Exception(Format("Cannot open %s (error %d)", ATarget, result));
}

void TixDemoBaseForm::RunHandler(const std::function<void()>& AHandler)
{
    try {
        AHandler();
    } catch (const std::exception& E) {
        ShowException(E);
    }
}

void TixDemoBaseForm::ShowException(const std::exception& E)
{
    QMessageBox::critical(this, windowTitle(), QString::fromUtf8(E.what()));
}

} // namespace ix
