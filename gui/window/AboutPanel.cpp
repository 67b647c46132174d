#include "gui/window/AboutPanel.h"

#include <QAbstractButton>
#include <QBoxLayout>
#include <QDesktopServices>
#include <QEvent>
#include <QFile>
#include <QFontMetrics>
#include <QGridLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QUrl>

#include <algorithm>

#ifndef QUORVEL_CONTACT_ADDRESS
#define QUORVEL_CONTACT_ADDRESS ""
#endif
#include <initializer_list>

namespace qv {

// One line of text elided in the middle to the width the layout gives it.
class ElidedLabel : public QLabel {
public:
    using QLabel::QLabel;

    void setFullText(const QString &text)
    {
        fullText_ = text;
        elide();
    }

protected:
    void resizeEvent(QResizeEvent *event) override
    {
        QLabel::resizeEvent(event);
        elide();
    }

private:
    void elide() { setText(fontMetrics().elidedText(fullText_, Qt::ElideMiddle, contentsRect().width())); }

    QString fullText_;
};

namespace {

std::function<std::pair<quint64, quint64>()> &memoryProvider()
{
    static std::function<std::pair<quint64, quint64>()> provider;
    return provider;
}

QString &contactAddress()
{
    static QString address = QStringLiteral(QUORVEL_CONTACT_ADDRESS);
    return address;
}

std::function<void(const QUrl &)> &urlOpener()
{
    static std::function<void(const QUrl &)> opener;
    return opener;
}

QLabel *makeLabel(QWidget *parent, const char *name, const QString &text)
{
    auto *label = new QLabel(text, parent);
    label->setObjectName(QString::fromLatin1(name));
    return label;
}

QFrame *makeSunkenFrame(QWidget *parent)
{
    auto *frame = new QFrame(parent);
    frame->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    return frame;
}

void setTextColor(QLabel *label, const QColor &color)
{
    QPalette pal = label->palette();
    pal.setColor(QPalette::WindowText, color);
    label->setPalette(pal);
}

} // namespace

AboutPanel::AboutPanel(QAction *toggleAction, QWidget *parent)
    : CollapsiblePanel(toggleAction, kOpenHeight, parent)
{
    setObjectName(QStringLiteral("Panel7"));
    // The panel takes the pane's width, however narrow: it rearranges
    // itself to fit (see arrange()).
    setSizePolicy(QSizePolicy::Ignored, sizePolicy().verticalPolicy());

    title_ = makeLabel(this, "Label3", QStringLiteral("Quorvel"));
    QFont titleFont = title_->font();
    titleFont.setBold(true);
    titleFont.setPixelSize(21);
    title_->setFont(titleFont);
    setTextColor(title_, QColor(0, 128, 255));
    title_->setContentsMargins(3, 0, 0, 0);
    version_ = makeLabel(this, "Label4", QStringLiteral("Версия 1.2"));

    creditsFrame_ = makeSunkenFrame(this);
    creditsFrame_->setMinimumSize(196, 36);
    auto *credits = new QVBoxLayout(creditsFrame_);
    credits->setContentsMargins(4, 3, 4, 3);
    credits->addWidget(makeLabel(creditsFrame_, "Label5",
                                 QStringLiteral("Каталог ссылок и заметок\n© Разработчики Quorvel")),
                       0, Qt::AlignLeft | Qt::AlignTop);

    memoryFrame_ = makeSunkenFrame(this);
    memoryFrame_->setMinimumSize(147, 36);
    auto *memory = new QGridLayout(memoryFrame_);
    memory->setContentsMargins(6, 2, 4, 2);
    memory->setHorizontalSpacing(5);
    memory->setVerticalSpacing(1);
    // The figures keep a gap after their captions, however wide the font draws those.
    memory->setColumnMinimumWidth(0, 73);
    memory->setColumnStretch(1, 1);
    memory->addWidget(makeLabel(memoryFrame_, "Label7", QStringLiteral("Всего памяти")), 0, 0);
    memory->addWidget(makeLabel(memoryFrame_, "Label10", QStringLiteral("Доступно")), 1, 0);
    totalMemoryLabel_ = makeLabel(memoryFrame_, "Label9", megabytes(0));
    availableMemoryLabel_ = makeLabel(memoryFrame_, "Label8", megabytes(0));
    memory->addWidget(totalMemoryLabel_, 0, 1);
    memory->addWidget(availableMemoryLabel_, 1, 1);

    folderLabel_ = new ElidedLabel(this);
    folderLabel_->setObjectName(QStringLiteral("CatalogFolderLabel"));
    // A long path never widens the panel: it takes the width that is left.
    folderLabel_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    folderLabel_->setContentsMargins(0, 3, 0, 0);

    contactLabel_ = makeLabel(this, "Label6", QStringLiteral("E-mail:  ") + contactAddress());
    setTextColor(contactLabel_, QColor(0, 0, 255));
    contactLabel_->setContentsMargins(29, 0, 0, 0);
    contactLabel_->setCursor(Qt::PointingHandCursor);
    contactLabel_->setToolTip(QStringLiteral("Написать письмо"));
    contactLabel_->setStatusTip(contactLabel_->toolTip());
    contactLabel_->installEventFilter(this);
    if (contactAddress().isEmpty()) {
        QSizePolicy keepPlace = contactLabel_->sizePolicy();
        keepPlace.setRetainSizeWhenHidden(true);
        contactLabel_->setSizePolicy(keepPlace);
        contactLabel_->hide();
    }

    closeButton_ = new QPushButton(QStringLiteral("Закрыть"), this);
    closeButton_->setObjectName(QStringLiteral("Button4"));
    closeButton_->setAutoDefault(false);
    closeButton_->setDefault(false);
    connect(closeButton_, &QPushButton::clicked, this, &AboutPanel::toggle);

    grid_ = new QGridLayout(this);
    grid_->setContentsMargins(5, 2, 5, 6);
    grid_->setHorizontalSpacing(4);
    grid_->setVerticalSpacing(4);
    arrange(false);

    close();
}

int AboutPanel::wideWidth() const
{
    // Two columns side by side, and the folder's column with no width.
    const auto widest = [](std::initializer_list<const QWidget *> widgets) {
        int width = 0;
        for (const QWidget *w : widgets)
            width = std::max(width, std::max(w->minimumWidth(), w->minimumSizeHint().width()));
        return width;
    };
    const QMargins margins = grid_->contentsMargins();
    return margins.left() + widest({title_, creditsFrame_, contactLabel_}) + grid_->horizontalSpacing()
        + widest({version_, memoryFrame_, closeButton_}) + grid_->horizontalSpacing() + margins.right();
}

void AboutPanel::arrange(bool narrow)
{
    narrow_ = narrow;
    for (QWidget *w : std::initializer_list<QWidget *>{title_, version_, creditsFrame_, memoryFrame_,
                                                       folderLabel_, contactLabel_, closeButton_})
        grid_->removeWidget(w);
    grid_->addWidget(title_, 0, 0);
    grid_->addWidget(version_, 0, 1, Qt::AlignVCenter);
    if (!narrow) {
        // The credits with the address below them, the memory figures with
        // the close button below them, and the folder in the rest.
        grid_->addWidget(creditsFrame_, 1, 0);
        grid_->addWidget(memoryFrame_, 1, 1);
        grid_->addWidget(folderLabel_, 1, 2, Qt::AlignTop);
        grid_->addWidget(contactLabel_, 2, 0);
        grid_->addWidget(closeButton_, 2, 1);
        grid_->setColumnStretch(2, 1);
        grid_->setColumnStretch(0, 0);
    } else {
        // Too narrow for that: the credits across, the memory figures with
        // the close button beside them, then the address and the folder.
        grid_->addWidget(creditsFrame_, 1, 0, 1, 2);
        grid_->addWidget(memoryFrame_, 2, 0);
        grid_->addWidget(closeButton_, 2, 1, Qt::AlignBottom);
        grid_->addWidget(contactLabel_, 3, 0, 1, 2);
        grid_->addWidget(folderLabel_, 4, 0, 1, 2);
        grid_->setColumnStretch(2, 0);
        grid_->setColumnStretch(0, 1);
    }
}

void AboutPanel::resizeEvent(QResizeEvent *event)
{
    CollapsiblePanel::resizeEvent(event);
    const bool narrow = width() < wideWidth();
    if (narrow != narrow_) {
        arrange(narrow);
        fitHeight();
    }
}

QLabel *AboutPanel::folderLabel() const { return folderLabel_; }

void AboutPanel::setFolder(const QString &folder)
{
    folderPath_ = folder;
    folderLabel_->setToolTip(folder);
    folderLabel_->setFullText(QStringLiteral("Папка каталога: ") + folder);
}

void AboutPanel::setMemoryProvider(std::function<std::pair<quint64, quint64>()> provider)
{
    memoryProvider() = std::move(provider);
}

void AboutPanel::setUrlOpener(std::function<void(const QUrl &)> opener) { urlOpener() = std::move(opener); }

void AboutPanel::setContactAddress(const QString &address) { contactAddress() = address; }

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

QString AboutPanel::megabytes(quint64 bytes) { return QString::number(bytes >> 20) + QStringLiteral(" Мб"); }

void AboutPanel::refreshMemory()
{
    const auto [total, available] = memoryProvider() ? memoryProvider()() : systemMemory();
    totalMemoryLabel_->setText(megabytes(total));
    availableMemoryLabel_->setText(megabytes(available));
}

bool AboutPanel::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == contactLabel_) {
        if (event->type() == QEvent::MouseButtonPress)
            return true;
        if (event->type() == QEvent::MouseButtonRelease) {
            const auto *me = static_cast<QMouseEvent *>(event);
            if (me->button() == Qt::LeftButton && contactLabel_->rect().contains(me->position().toPoint())) {
                const QUrl url(QStringLiteral("mailto:") + contactAddress());
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

} // namespace qv
