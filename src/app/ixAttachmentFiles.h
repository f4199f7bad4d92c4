#pragma once
// Attachments of the shown message as files: safe names inside a chosen folder, never a
// file replaced without the user's word.

#include <QByteArray>
#include <QSet>
#include <QString>

#include <functional>

namespace ix {

/// One attachment of the shown message with its decoded data.
struct TixShownAttachment
{
    /// The name the message gives it (already without path, as the message component reads it).
    QString Name;
    /// Media type without parameters.
    QString ContentType;
    QByteArray Data;
};

/// The user's answer when a file is in the way.
enum TixOverwriteAnswer : uint8_t { oaReplace, oaSkip, oaCancel };

/// Writes attachments as files. Raises Exception with the system's reason when a file cannot
/// be written.
class TixAttachmentWriter
{
public:
    /// Asks whether the existing file APath may be replaced.
    using TAskOverwrite = std::function<TixOverwriteAnswer(const QString& APath)>;

    explicit TixAttachmentWriter(TAskOverwrite AAsk);

    /// The safe file name for an attachment called AName (see SafeFileName).
    static QString SafeName(const QString& AName);
    /// The path in AFolder for AName: its safe name, with " (2)", " (3)"... before the
    /// extension when this writer already used that name.
    QString PathIn(const QString& AFolder, const QString& AName);
    /// Writes AData as APath: creates the file, or asks before replacing an existing one.
    /// Returns the answer: oaReplace when written, oaSkip or oaCancel when the user declined.
    TixOverwriteAnswer Write(const QString& APath, const QByteArray& AData);

private:
    void Replace(const QString& APath, const QByteArray& AData);

    TAskOverwrite FAsk;
    QSet<QString> FUsed;
};

} // namespace ix
