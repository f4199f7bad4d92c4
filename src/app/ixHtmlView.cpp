#include "app/ixHtmlView.h"

#include <QImage>
#include <QTextDocument>

namespace ix {

namespace {

/// What a refused picture shows: nothing, in the room the text gives it (a refused
/// background leaves the background as it is).
QImage BlockedPicture()
{
    QImage picture(1, 1, QImage::Format_ARGB32);
    picture.fill(Qt::transparent);
    return picture;
}

} // namespace

TixHtmlView::TixHtmlView(QWidget* AParent) : QTextBrowser(AParent)
{
    setOpenLinks(false);
    setOpenExternalLinks(false);
    setUndoRedoEnabled(false);
    QObject::connect(this, &QTextBrowser::anchorClicked, this, [this](const QUrl& AUrl) {
        const auto& handler = IsOpenableLink(AUrl) ? OnOpenLink : OnRefusedLink;
        if (handler)
            handler(AUrl);
    });
}

void TixHtmlView::ShowHtml(const QString& AHtml, TPartData AParts)
{
    FParts = std::move(AParts);
    FBlockedCount = 0;
    // A new document drops the resources that the previous message's parts supplied.
    document()->clear();
    setHtml(AHtml);
}

void TixHtmlView::ClearHtml()
{
    ShowHtml({}, {});
}

bool TixHtmlView::IsOpenableLink(const QUrl& AUrl)
{
    const QString scheme = AUrl.scheme().toLower();
    return AUrl.isValid() && (scheme == u"http" || scheme == u"https" || scheme == u"mailto");
}

QVariant TixHtmlView::loadResource(int AType, const QUrl& AName)
{
    const QString scheme = AName.scheme().toLower();
    if (scheme == u"cid") {
        const auto part = FParts.constFind(AName.path(QUrl::FullyDecoded).toLower());
        if (part != FParts.constEnd() && AType != QTextDocument::ImageResource)
            return *part;
        if (part != FParts.constEnd())
            if (const QImage picture = QImage::fromData(*part); !picture.isNull())
                return picture;
    } else if (scheme == u"data" && AType == QTextDocument::ImageResource) {
        // Inline data is part of the message; the document decodes it itself.
        return {};
    }
    ++FBlockedCount;
    // Never an empty variant: with one, the document would read the address as a local file.
    if (AType == QTextDocument::ImageResource)
        return BlockedPicture();
    return QString(QLatin1Char(' '));
}

} // namespace ix
