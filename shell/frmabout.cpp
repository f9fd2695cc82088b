#include "shell/frmabout.h"

#include "platform/widgets/fonts.h"

#include "platform/shell.h"
#include "platform/twips.h"
#include "shell/sysinfo.h"

#include <QGuiApplication>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QScreen>
#include <exception>

namespace {
// Design client area and the places that close up when there are no comments.
constexpr int kClientWidth = 5760;
constexpr int kClientHeight = 6555;
constexpr int kCommentsGap = 105;
constexpr int kLineTop = 4935;
constexpr int kDisclaimerTop = 5115;
constexpr int kOKTop = 5115;
constexpr int kSysInfoTop = 5565;
constexpr int kCommentsHeight = 495;

QWidget* makeLine(QWidget* parent, const QString& name, const QColor& colour)
{
    auto* line = new QWidget(parent);
    line->setObjectName(name);
    line->setAutoFillBackground(true);
    QPalette palette = line->palette();
    palette.setColor(QPalette::Window, colour);
    line->setPalette(palette);
    return line;
}

// A horizontal line from x1 to x2 inclusive at y, width pixels thick.
QRect lineRect(int x1, int x2, int y, int width)
{
    return QRect(twips(x1), twips(y), twips(x2) - twips(x1) + 1, width);
}

QString disclaimerText()
{
    return QStringLiteral("Warning: this program is protected by\n"
                          "copyright law and international treaties.\n"
                          "Unauthorised copying or distribution\n"
                          "of this program, or any part of it, may\n"
                          "result in severe civil and criminal\n"
                          "penalties under the law.");
}
} // namespace

frmAbout::frmAbout(IShell& shell, ISettingsStore& store, IMessageBox& messages, QWidget* parent,
                   const VersionInfo& info)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      m_shell(shell), m_store(store), m_messages(messages), m_info(info)
{
    setObjectName(QStringLiteral("frmAbout"));
    setAttribute(Qt::WA_DeleteOnClose);
    setModal(false);
    setFont(designFont(QStringLiteral("Tahoma"), 8.25));
    buildControls();
    Form_Load();

    QScreen* screen = parent ? parent->screen() : QGuiApplication::primaryScreen();
    if (screen)
        move(screen->availableGeometry().center() - rect().center());
}

void frmAbout::buildControls()
{
    auto label = [this](const char* name, int left, int top, int width, int height) {
        auto* control = new QLabel(this);
        control->setObjectName(QString::fromLatin1(name));
        control->setGeometry(twipsRect(left, top, width, height));
        control->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        return control;
    };

    m_picIcon = label("picIcon", 240, 240, 480, 480);
    m_lblTitle = label("lblTitle", 960, 240, 2655, 240);
    QFont bold = font();
    bold.setBold(true);
    m_lblTitle->setFont(bold);
    m_lblVersion = label("lblVersion", 3840, 240, 1695, 225);
    m_lblVersion->setAlignment(Qt::AlignRight | Qt::AlignTop);
    m_lblCopyright = label("lblCopyright", 960, 480, 4575, 225);
    m_lblDescription = label("lblDescription", 240, 840, 5295, 975);
    m_lblDescription->setWordWrap(true);

    m_picQuorvex = label("picQuorvex", 1920, 2040, 1920, 1200);
    m_picQuorvex->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    m_picQuorvex->setLineWidth(2);

    m_lblQuorvex = label("lblQuorvex", 240, 3360, 5295, 495);
    m_lblQuorvex->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    m_lblQuorvex->installEventFilter(this);

    m_lblComments = label("lblComments", 240, 4320, 5295, kCommentsHeight);
    m_lblComments->setWordWrap(true);

    m_line10 = makeLine(this, QStringLiteral("Line10"), Qt::white);
    m_line11 = makeLine(this, QStringLiteral("Line11"), QColor(128, 128, 128));

    m_lblDisclaimer = label("lblDisclaimer", 240, kDisclaimerTop, 3870, 1185);

    m_cmdOK = new QPushButton(QStringLiteral("OK"), this);
    m_cmdOK->setObjectName(QStringLiteral("cmdOK"));
    m_cmdOK->setDefault(true);
    m_cmdSysInfo = new QPushButton(QStringLiteral("&System Info..."), this);
    m_cmdSysInfo->setObjectName(QStringLiteral("cmdSysInfo"));
    m_cmdSysInfo->setAutoDefault(false);

    connect(m_cmdOK, &QPushButton::clicked, this, &frmAbout::cmdOK_Click);
    connect(m_cmdSysInfo, &QPushButton::clicked, this, &frmAbout::cmdSysInfo_Click);

    const QList<QWidget*> order = {m_cmdOK,      m_cmdSysInfo, m_lblDescription, m_lblDisclaimer,
                                   m_lblTitle,   m_lblVersion, m_lblCopyright,   m_picIcon,
                                   m_picQuorvex, m_lblQuorvex, m_lblComments};
    for (qsizetype i = 1; i < order.size(); ++i)
        QWidget::setTabOrder(order.at(i - 1), order.at(i));
    m_cmdOK->setFocus();
}

void frmAbout::Form_Load()
{
    setWindowTitle(QStringLiteral("About ") + appTitle());
    setWindowIcon(QIcon(QStringLiteral(":/about.png")));

    const QPixmap icon(QStringLiteral(":/tarnavel.png"));
    m_picIcon->setPixmap(icon);
    if (!icon.isNull())
        m_picIcon->resize(icon.size());

    m_lblTitle->setText(m_info.productName);
    m_lblVersion->setText(formatVersion(m_info));
    m_lblCopyright->setText(m_info.legalCopyright);
    m_lblDescription->setText(m_info.fileDescription);

    m_lblQuorvex->setText(QStringLiteral("Visit the Quorvex website for more FREE software\n(") +
                          QString::fromLatin1(WEB_ADDRESS) + QStringLiteral(")"));
    m_lblQuorvex->setCursor(QCursor(QPixmap(QStringLiteral(":/hand.png")), 6, 1));
    m_lblQuorvex->setToolTip(QStringLiteral("Click to visit the Quorvex Website..."));
    QPalette link = m_lblQuorvex->palette();
    link.setColor(QPalette::WindowText, QColor(0, 0, 255));
    m_lblQuorvex->setPalette(link);
    QFont underlined = m_lblQuorvex->font();
    underlined.setUnderline(true);
    m_lblQuorvex->setFont(underlined);

    m_lblComments->setText(m_info.comments);
    // Without comments the box closes up around their label.
    const int shift = m_info.comments.isEmpty() ? kCommentsHeight + kCommentsGap : 0;
    m_lblComments->setVisible(shift == 0);
    m_line11->setGeometry(lineRect(90, 5654, kLineTop - shift, 1));
    m_line10->setGeometry(lineRect(105, 5654, kLineTop - shift, 2));
    // The grey line lies over the upper half of the white one: an etched groove.
    m_line11->raise();
    m_lblDisclaimer->setGeometry(twipsRect(240, kDisclaimerTop - shift, 3870, 1185));
    m_cmdOK->setGeometry(twipsRect(4245, kOKTop - shift, 1260, 345));
    m_cmdSysInfo->setGeometry(twipsRect(4260, kSysInfoTop - shift, 1245, 345));
    setFixedSize(twips(kClientWidth), twips(kClientHeight - shift));

    m_lblDisclaimer->setText(disclaimerText());
    m_picQuorvex->setPixmap(QPixmap(QStringLiteral(":/logo.png")));
}

void frmAbout::cmdOK_Click()
{
    close();
}

void frmAbout::cmdSysInfo_Click()
{
    StartSysInfo(m_store, m_shell, m_messages);
}

void frmAbout::lblQuorvex_Click()
{
    try {
        // A browser that cannot be started is not reported; the box closes all the same.
        (void)m_shell.openUrl(QString::fromLatin1(WEB_ADDRESS) + QStringLiteral("/"));
    } catch (const std::exception&) {
    }
    cmdOK_Click();
}

bool frmAbout::eventFilter(QObject* watched, QEvent* event)
{
    if (watched != m_lblQuorvex)
        return QDialog::eventFilter(watched, event);
    // Taking the press keeps the release with the label, where the click is recognised.
    if (event->type() == QEvent::MouseButtonPress)
        return static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton;
    if (event->type() == QEvent::MouseButtonRelease) {
        const auto* mouse = static_cast<QMouseEvent*>(event);
        if (mouse->button() == Qt::LeftButton &&
            m_lblQuorvex->rect().contains(mouse->position().toPoint())) {
            lblQuorvex_Click();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

#include "moc_frmabout.cpp"
