#pragma once
// The view of a message's HTML text. It renders what the message itself holds and nothing
// else: no network access (remote pictures, style sheets and frames are never requested),
// no local files, no scripts (the toolkit's rich-text engine has none); pictures named by
// "cid:" come from the message's own parts, links are handed to the application on click.

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QTextBrowser>
#include <QUrl>

#include <functional>

namespace ix {

class TixHtmlView : public QTextBrowser
{
public:
    /// The parts of a message that "cid:" addresses may name: content ID (without angle
    /// brackets, in lower case) to decoded data.
    using TPartData = QHash<QString, QByteArray>;

    explicit TixHtmlView(QWidget* AParent = nullptr);

    /// Renders AHtml; "cid:" pictures are looked up in AParts.
    void ShowHtml(const QString& AHtml, TPartData AParts);
    /// Empties the view.
    void ClearHtml();
    /// How many outside resources the shown text asked for (each was refused).
    int GetBlockedCount() const noexcept { return FBlockedCount; }
    /// True for the addresses that a click may hand to the desktop: http, https and mailto.
    static bool IsOpenableLink(const QUrl& AUrl);

    /// Fired by a click on a link that IsOpenableLink accepts.
    std::function<void(const QUrl& AUrl)> OnOpenLink;
    /// Fired by a click on any other link.
    std::function<void(const QUrl& AUrl)> OnRefusedLink;

protected:
    /// The only source of resources: "cid:" parts and inline "data:" pictures; anything
    /// else gets an empty stand-in, so that the text engine never loads it itself.
    QVariant loadResource(int AType, const QUrl& AName) override;

private:
    TPartData FParts;
    int FBlockedCount = 0;
};

} // namespace ix
