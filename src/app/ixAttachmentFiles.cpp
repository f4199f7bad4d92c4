#include "app/ixAttachmentFiles.h"

#include "core/ixSysUtils.h"
#include "util/ixFileNames.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace ix {

namespace {

[[noreturn]] void RaiseWriteError(const QString& APath, const QString& AReason)
{
    throw Exception("Cannot write " + APath.toStdString() + ": " + AReason.toStdString());
}

/// AName with " (ANumber)" before its extension.
QString Numbered(const QString& AName, int ANumber)
{
    const qsizetype dot = AName.lastIndexOf(QLatin1Char('.'));
    const qsizetype end = dot > 0 ? dot : AName.size();
    return AName.left(end) + QStringLiteral(" (%1)").arg(ANumber) + AName.mid(end);
}

} // namespace

TixAttachmentWriter::TixAttachmentWriter(TAskOverwrite AAsk) : FAsk(std::move(AAsk)) {}

QString TixAttachmentWriter::SafeName(const QString& AName)
{
    return QString::fromStdString(SafeFileName(AName.toStdString()));
}

QString TixAttachmentWriter::PathIn(const QString& AFolder, const QString& AName)
{
    const QString safe = SafeName(AName);
    QString name = safe;
    for (int number = 2; FUsed.contains(name); ++number)
        name = SafeName(Numbered(safe, number));
    FUsed.insert(name);
    return QDir(AFolder).filePath(name);
}

TixOverwriteAnswer TixAttachmentWriter::Write(const QString& APath, const QByteArray& AData)
{
    // Created only when nothing is there: no file is replaced between the check and the write.
    QFile file(APath);
    if (file.open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
        if (file.write(AData) != AData.size() || !file.flush()) {
            const QString reason = file.errorString();
            file.remove();
            RaiseWriteError(APath, reason);
        }
        return oaReplace;
    }
    if (!QFileInfo::exists(APath) && !QFileInfo(APath).isSymLink())
        RaiseWriteError(APath, file.errorString());
    const TixOverwriteAnswer answer = FAsk(APath);
    if (answer == oaReplace)
        Replace(APath, AData);
    return answer;
}

void TixAttachmentWriter::Replace(const QString& APath, const QByteArray& AData)
{
    QSaveFile file(APath);
    if (!file.open(QIODevice::WriteOnly) || file.write(AData) != AData.size() || !file.commit())
        RaiseWriteError(APath, file.errorString());
}

} // namespace ix
