// Draws the three banner pictures of the demo windows into a folder (run at build time):
//   ixbannerart OUTPUT_DIR   ->  logo_left.png (406 x 78), logo_middle.png (8 x 78),
//                                logo_right.png (209 x 78)
// The middle picture is stretched between the other two, so their facing edges share its colour.
#include <QDir>
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

#include <cstdio>

namespace {

constexpr int BannerHeight = 78;
constexpr int AccentHeight = 3;
const QColor DeepBlue(15, 44, 79);
const QColor Teal(29, 111, 134);
const QColor Accent(240, 160, 48);
const QColor Paper(250, 250, 245);

QImage NewBanner(int AWidth, const QColor& AFrom, const QColor& ATo)
{
    QImage image(AWidth, BannerHeight, QImage::Format_RGB32);
    QPainter painter(&image);
    QLinearGradient gradient(0, 0, AWidth, 0);
    gradient.setColorAt(0, AFrom);
    gradient.setColorAt(1, ATo);
    painter.fillRect(image.rect(), gradient);
    painter.fillRect(0, BannerHeight - AccentHeight, AWidth, AccentHeight, Accent);
    return image;
}

QFont BannerFont(int APixelSize, bool ABold)
{
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(APixelSize);
    font.setBold(ABold);
    return font;
}

/// An envelope with a padlock on its corner: mail over TLS.
void DrawEnvelope(QPainter& APainter, const QRectF& ABox)
{
    APainter.setPen(QPen(Paper, 2.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    APainter.setBrush(Qt::NoBrush);
    APainter.drawRoundedRect(ABox, 4, 4);
    QPainterPath flap;
    flap.moveTo(ABox.topLeft() + QPointF(3, 3));
    flap.lineTo(ABox.center().x(), ABox.top() + ABox.height() * 0.58);
    flap.lineTo(ABox.topRight() + QPointF(-3, 3));
    APainter.drawPath(flap);

    const QRectF body(ABox.right() - 14, ABox.bottom() - 10, 20, 15);
    APainter.setPen(QPen(Accent, 2.5, Qt::SolidLine, Qt::RoundCap));
    APainter.drawArc(QRectF(body.left() + 4, body.top() - 9, 12, 16), 0, 180 * 16);
    APainter.setPen(Qt::NoPen);
    APainter.setBrush(Accent);
    APainter.drawRoundedRect(body, 2, 2);
    APainter.setBrush(DeepBlue);
    APainter.drawEllipse(body.center(), 2.2, 2.2);
}

QImage DrawLeft()
{
    QImage image = NewBanner(406, DeepBlue, Teal);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    DrawEnvelope(painter, QRectF(18, 17, 58, 40));
    painter.setPen(Paper);
    painter.setFont(BannerFont(28, true));
    painter.drawText(QPointF(98, 40), QStringLiteral("ix mail"));
    painter.setPen(QColor(200, 225, 232));
    painter.setFont(BannerFont(12, false));
    painter.drawText(QPointF(100, 60), QStringLiteral("POP3  \u00b7  SSL / TLS  \u00b7  MIME  \u00b7  DKIM"));
    return image;
}

QImage DrawMiddle()
{
    return NewBanner(8, Teal, Teal);
}

QImage DrawRight()
{
    QImage image = NewBanner(209, Teal, QColor(36, 132, 152));
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(QColor(255, 255, 255, 40), 2));
    for (int radius = 20; radius <= 80; radius += 15)
        painter.drawEllipse(QPointF(209, 0), radius, radius);
    painter.setPen(Paper);
    painter.setFont(BannerFont(13, true));
    const QRect text(0, 22, 195, 20);
    painter.drawText(text, Qt::AlignRight | Qt::AlignVCenter, QStringLiteral("Documentation \u203a"));
    painter.setPen(QColor(200, 225, 232));
    painter.setFont(BannerFont(10, false));
    painter.drawText(text.translated(0, 20), Qt::AlignRight | Qt::AlignVCenter,
        QStringLiteral("click the banner"));
    return image;
}

bool Save(const QImage& AImage, const QDir& AFolder, const char* AName)
{
    const QString path = AFolder.filePath(QString::fromLatin1(AName));
    if (AImage.save(path, "PNG"))
        return true;
    std::fprintf(stderr, "ixbannerart: cannot write %s\n", qPrintable(path));
    return false;
}

} // namespace

int main(int argc, char* argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication application(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: ixbannerart OUTPUT_DIR\n");
        return 2;
    }
    const QDir folder(QString::fromLocal8Bit(argv[1]));
    if (!folder.mkpath(QStringLiteral(".")))
        return 1;
    const bool ok = Save(DrawLeft(), folder, "logo_left.png") && Save(DrawMiddle(), folder, "logo_middle.png")
        && Save(DrawRight(), folder, "logo_right.png");
    return ok ? 0 : 1;
}
