#include "gui/window/AboutPanel.h"

#include <QAbstractButton>
#include <QDesktopServices>
#include <QEvent>
#include <QFile>
#include <QFontMetrics>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QUrl>

namespace {

// Where the folder line starts: right of the memory frame.
constexpr int kFolderX = 360;

std::function<std::pair<quint64, quint64>()> &memoryProvider()
{
    static std::function<std::pair<quint64, quint64>()> provider;
    return provider;
}

std::function<void(const QUrl &)> &urlOpener()
{
    static std::function<void(const QUrl &)> opener;
    return opener;
}

QLabel *makeLabel(QWidget *parent, const char *name, const QString &text, int x, int y)
{
    auto *label = new QLabel(text, parent);
    label->setObjectName(QString::fromLatin1(name));
    label->move(x, y);
    label->adjustSize();
    return label;
}

QFrame *makeFrame(QWidget *parent, const QRect &geometry)
{
    auto *frame = new QFrame(parent);
    frame->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    frame->setGeometry(geometry);
    return frame;
}

} // namespace

AboutPanel::AboutPanel(QAbstractButton *toggleButton, QWidget *parent)
    : CollapsiblePanel(toggleButton, kOpenHeight, parent)
{
    setObjectName(QStringLiteral("Panel7"));

    // Frames first, so the labels placed over them stay on top.
    makeFrame(this, QRect(5, 29, 196, 36));
    makeFrame(this, QRect(205, 29, 147, 36));

    QLabel *title = makeLabel(this, "Label3", QStringLiteral("Quorvel"), 8, 2);
    QFont titleFont = title->font();
    titleFont.setBold(true);
    titleFont.setPixelSize(21);
    title->setFont(titleFont);
    QPalette titlePal = title->palette();
    titlePal.setColor(QPalette::WindowText, QColor(0, 128, 255));
    title->setPalette(titlePal);
    title->adjustSize();

    makeLabel(this, "Label4", QStringLiteral("Версия 1.2"), 205, 9);
    makeLabel(this, "Label5",
              QStringLiteral("Каталог ссылок и заметок\n© Разработчики Quorvel"), 10, 33);

    m_contact = makeLabel(this, "Label6",
                          QStringLiteral("E-mail:  ") + QString::fromLatin1(kContactAddress), 34, 75);
    QPalette contactPal = m_contact->palette();
    contactPal.setColor(QPalette::WindowText, QColor(0, 0, 255));
    m_contact->setPalette(contactPal);
    m_contact->setCursor(Qt::PointingHandCursor);
    m_contact->setToolTip(QStringLiteral("Написать письмо"));
    m_contact->setStatusTip(m_contact->toolTip());
    m_contact->installEventFilter(this);

    QLabel *totalCaption = makeLabel(this, "Label7", QStringLiteral("Всего памяти"), 212, 32);
    QLabel *availableCaption = makeLabel(this, "Label10", QStringLiteral("Доступно"), 212, 47);
    // The figures keep a gap after their captions, however wide the font draws those.
    const int figuresX = qMax(290, qMax(totalCaption->geometry().right(),
                                        availableCaption->geometry().right()) + 5);
    m_total = makeLabel(this, "Label9", megabytes(0), figuresX, 32);
    m_available = makeLabel(this, "Label8", megabytes(0), figuresX, 48);

    m_closeButton = new QPushButton(QStringLiteral("Закрыть"), this);
    m_closeButton->setObjectName(QStringLiteral("Button4"));
    m_closeButton->setGeometry(205, 71, 147, 23);
    m_closeButton->setAutoDefault(false);
    m_closeButton->setDefault(false);
    connect(m_closeButton, &QPushButton::clicked, this, &AboutPanel::toggle);

    m_folder = makeLabel(this, "CatalogFolderLabel", QString(), kFolderX, 32);

    close();
}

void AboutPanel::setFolder(const QString &folder)
{
    m_folderPath = folder;
    m_folder->setToolTip(folder);
    layoutFolder();
}

void AboutPanel::resizeEvent(QResizeEvent *event)
{
    CollapsiblePanel::resizeEvent(event);
    layoutFolder();
}

void AboutPanel::layoutFolder()
{
    if (!m_folder)
        return;
    const QString text = QStringLiteral("Папка каталога: ") + m_folderPath;
    const int width = qMax(0, this->width() - kFolderX - 5);
    m_folder->setText(m_folder->fontMetrics().elidedText(text, Qt::ElideMiddle, width));
    m_folder->resize(width, m_folder->sizeHint().height());
}

void AboutPanel::setMemoryProvider(std::function<std::pair<quint64, quint64>()> provider)
{
    memoryProvider() = std::move(provider);
}

void AboutPanel::setUrlOpener(std::function<void(const QUrl &)> opener)
{
    urlOpener() = std::move(opener);
}

std::pair<quint64, quint64> AboutPanel::systemMemory()
{
    // Linux reports both figures in /proc/meminfo, in KiB. Elsewhere the file is
    // missing and both figures stay 0.
    QFile file(QStringLiteral("/proc/meminfo"));
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return {0, 0};
    quint64 total = 0, available = 0, freeMem = 0;
    bool haveAvailable = false;
    // The file reports a size of 0: read it whole rather than testing for its end.
    const QList<QByteArray> lines = file.readAll().split('\n');
    for (const QByteArray &line : lines) {
        const qsizetype colon = line.indexOf(':');
        if (colon < 0)
            continue;
        const QByteArray key = line.left(colon);
        QByteArray value = line.mid(colon + 1).trimmed();
        if (value.endsWith(" kB"))
            value.chop(3);
        bool ok = false;
        const quint64 bytes = value.trimmed().toULongLong(&ok) * 1024;
        if (!ok)
            continue;
        if (key == "MemTotal") {
            total = bytes;
        } else if (key == "MemAvailable") {
            available = bytes;
            haveAvailable = true;
        } else if (key == "MemFree") {
            freeMem = bytes;
        }
    }
    // Kernels before 3.14 have no MemAvailable; free memory is the nearest figure.
    return {total, haveAvailable ? available : freeMem};
}

QString AboutPanel::megabytes(quint64 bytes)
{
    return QString::number(bytes >> 20) + QStringLiteral(" Мб");
}

void AboutPanel::refreshMemory()
{
    const auto [total, available] = memoryProvider() ? memoryProvider()() : systemMemory();
    m_total->setText(megabytes(total));
    m_total->adjustSize();
    m_available->setText(megabytes(available));
    m_available->adjustSize();
}

bool AboutPanel::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_contact) {
        if (event->type() == QEvent::MouseButtonPress)
            return true;
        if (event->type() == QEvent::MouseButtonRelease) {
            const auto *me = static_cast<QMouseEvent *>(event);
            if (me->button() == Qt::LeftButton && m_contact->rect().contains(me->position().toPoint())) {
                const QUrl url(QStringLiteral("mailto:") + QString::fromLatin1(kContactAddress));
                if (urlOpener())
                    urlOpener()(url);
                else
                    QDesktopServices::openUrl(url);
            }
            return true;
        }
    }
    return CollapsiblePanel::eventFilter(watched, event);
}
