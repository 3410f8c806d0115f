#include "commands/frm_about.h"

#include <QAccessibleWidget>
#include <QFont>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QScopedValueRollback>
#include <QScreen>
#include <QShowEvent>
#include <QStyle>
#include <QStyleOptionFocusRect>
#include <QTextBlockFormat>
#include <QTextCharFormat>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextEdit>
#include <QTimer>

#include <mutex>

#include "commands/help_viewer.h"
#include "commands/open_document.h"
#include "uikit/centre_on_screen.h"
#include "uikit/pictures.h"
#include "uikit/program_icon.h"
#include "uikit/twips.h"

namespace kaldrome {

namespace {

// The window's fonts are named as the program has always named them; where a
// family is missing, the metric-compatible Liberation family stands in.
QStringList Serif() {
    return {QStringLiteral("Times New Roman"), QStringLiteral("Liberation Serif")};
}
QStringList Sans() {
    return {QStringLiteral("Arial"), QStringLiteral("Liberation Sans")};
}

QTextCharFormat NameFormat() {
    QTextCharFormat f;
    f.setFontFamilies(Serif());
    f.setFontPointSize(12);
    f.setForeground(QColor(0, 0, 255));
    return f;
}

QTextCharFormat PlainFormat() {
    QTextCharFormat f;
    f.setFontFamilies(Sans());
    f.setFontPointSize(10);
    f.setForeground(QColor(0, 0, 0));
    return f;
}

// The link picture ("Visit Us"): besides the click, Tab reaches it (after the
// text), Enter or Space opens the page, a frame shows that it has the focus,
// and a screen reader finds a link with a press action.
class LinkPicture : public QLabel {
    Q_OBJECT

  public:
    explicit LinkPicture(QWidget* parent) : QLabel(parent) {
        setFocusPolicy(Qt::TabFocus);
        static std::once_flag linkRole;
        std::call_once(linkRole, [] { QAccessible::installFactory(&LinkPicture::Accessible); });
    }

  signals:
    void Activated();

  protected:
    void keyPressEvent(QKeyEvent* event) override {
        const int key = event->key();
        if (event->modifiers() == Qt::NoModifier &&
            (key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Space))
            emit Activated();
        else
            QLabel::keyPressEvent(event);
    }

    void paintEvent(QPaintEvent* event) override {
        QLabel::paintEvent(event);
        if (!hasFocus()) return;
        QPainter painter(this);
        QStyleOptionFocusRect frame;
        frame.initFrom(this);
        frame.rect = pixmap().isNull()
                         ? rect()
                         : QRect(QPoint(0, 0), pixmap().deviceIndependentSize().toSize());
        style()->drawPrimitive(QStyle::PE_FrameFocusRect, &frame, &painter, this);
    }

  private:
    class Interface : public QAccessibleWidget {
      public:
        explicit Interface(QWidget* w) : QAccessibleWidget(w, QAccessible::Link) {}
        QString text(QAccessible::Text t) const override {
            if (t == QAccessible::Name) return widget()->toolTip();
            return QAccessibleWidget::text(t);
        }
        QStringList actionNames() const override {
            return QAccessibleWidget::actionNames() << pressAction();
        }
        void doAction(const QString& name) override {
            if (name != pressAction()) return QAccessibleWidget::doAction(name);
            // Not inside the screen reader's call, which would wait on the browser.
            QMetaObject::invokeMethod(
                static_cast<LinkPicture*>(widget()),
                [w = widget()] { emit static_cast<LinkPicture*>(w)->Activated(); },
                Qt::QueuedConnection);
        }
    };

    static QAccessibleInterface* Accessible(const QString& name, QObject* object) {
        if (name != QLatin1String("kaldrome::LinkPicture")) return nullptr;
        return new Interface(static_cast<QWidget*>(object));
    }
};

}  // namespace

QString LegalNotice() {
    return QStringLiteral(
        "Warning: Kaldrome is protected by copyright law and by international treaties. "
        "Copying, selling or passing on this program or any part of it without the written "
        "consent of Orvane Software is not allowed; anyone who does so may face civil claims "
        "and criminal charges under the law in force.");
}

FrmAbout::FrmAbout(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                          Qt::MSWindowsFixedSizeDialogHint) {
    setObjectName(QStringLiteral("frmAbout"));
    setWindowTitle(QStringLiteral("About Kaldrome"));
    setWindowIcon(ProgramIcon());
    setFixedSize(ClientWidth, ClientHeight);
    setSizeGripEnabled(false);
    // It must never keep the program running once the main window has gone.
    setAttribute(Qt::WA_QuitOnClose, false);
    QFont font;
    font.setFamilies({QStringLiteral("MS Sans Serif"), QStringLiteral("Liberation Sans")});
    font.setPointSize(8);
    setFont(font);

    // Created in tab order: Continue first, so it has the focus when the window opens.
    cmdContinue = new QPushButton(QStringLiteral("&Continue"), this);
    cmdContinue->setObjectName(QStringLiteral("cmdContinue"));
    cmdContinue->setGeometry(Twips(4080, 1440, 975, 495));
    cmdContinue->setToolTip(QStringLiteral(" Alt + C "));
    cmdContinue->setDefault(true);
    cmdContinue->setAutoDefault(true);
    connect(cmdContinue, &QPushButton::clicked, this, &FrmAbout::cmdContinue_Click);

    rtfAbout = new QTextEdit(this);
    rtfAbout->setObjectName(QStringLiteral("rtfAbout"));
    rtfAbout->setGeometry(Twips(720, 120, 4335, 975));
    rtfAbout->setAcceptRichText(false);
    rtfAbout->setTabChangesFocus(true);
    rtfAbout->setUndoRedoEnabled(false);
    rtfAbout->setLineWrapMode(QTextEdit::WidgetWidth);
    rtfAbout->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    rtfAbout->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    rtfAbout->document()->setDocumentMargin(2);
    setTabOrder(cmdContinue, rtfAbout);
    // Text typed or pasted takes the format beside the caret, which at the start
    // of a line or next to a name is the blue serif of the names: whatever the
    // user puts in is made plain.
    connect(rtfAbout->document(), &QTextDocument::contentsChange, this,
            [this](int position, int /*removed*/, int added) {
                if (filling_ || added <= 0) return;
                filling_ = true;
                QTextCursor typed(rtfAbout->document());
                typed.setPosition(position);
                typed.setPosition(position + added, QTextCursor::KeepAnchor);
                typed.setCharFormat(PlainFormat());
                filling_ = false;
            });

    imgKaldrome = new QLabel(this);
    imgKaldrome->setObjectName(QStringLiteral("imgKaldrome"));
    imgKaldrome->setGeometry(Twips(120, 360, 480, 480));
    imgKaldrome->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    imgKaldrome->setScaledContents(false);
    imgKaldrome->setPixmap(QPixmap::fromImage(ProgramIconImage()));

    auto* link = new LinkPicture(this);
    connect(link, &LinkPicture::Activated, this, &FrmAbout::imgDireccion_Click);
    imgDireccion = link;
    setTabOrder(rtfAbout, link);
    imgDireccion->setObjectName(QStringLiteral("imgDireccion"));
    imgDireccion->setGeometry(Twips(720, 1920, 1860, 270));
    imgDireccion->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    imgDireccion->setPixmap(QPixmap::fromImage(LinkPictureImage()));
    imgDireccion->setToolTip(QStringLiteral("Visit Us"));
    imgDireccion->setCursor(HandCursor());
    imgDireccion->installEventFilter(this);

    Image1 = new QLabel(this);
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setGeometry(Twips(150, 2400, 4935, 60));
    Image1->setScaledContents(true);
    Image1->setPixmap(QPixmap::fromImage(StripImage()));

    lblWarning = new QLabel(this);
    lblWarning->setObjectName(QStringLiteral("lblWarning"));
    lblWarning->setGeometry(Twips(210, 2520, 4815, 1065));
    lblWarning->setWordWrap(true);
    lblWarning->setAlignment(Qt::AlignLeft | Qt::AlignTop);
}

int FrmAbout::ShowModal() {
    return exec();
}

void FrmAbout::showEvent(QShowEvent* event) {
    // Each showing is a fresh load; a spontaneous show (restored by the window
    // system) is not.
    if (!event->spontaneous()) Form_Load();
    QDialog::showEvent(event);
}

void FrmAbout::changeEvent(QEvent* event) {
    QDialog::changeEvent(event);
    // The window has no minimize button, but some window managers minimize it
    // all the same. Minimized, it would leave the window it blocks with nothing
    // to answer, and no taskbar may exist to bring it back: it comes back at once.
    if (event->type() == QEvent::WindowStateChange && isMinimized())
        QTimer::singleShot(0, this, &FrmAbout::Restore);
}

void FrmAbout::Restore() {
    if (!isVisible() || !isMinimized()) return;
    setWindowState(windowState() & ~Qt::WindowMinimized);
    raise();
    activateWindow();
}

void FrmAbout::Form_Load() {
    lblWarning->setText(LegalNotice());
    SetApplicationHelpFile(HelpFilePath());
    FillAboutText();
    linkPressed_ = false;
    CentreOnScreen();
    cmdContinue->setFocus(Qt::OtherFocusReason);
}

void FrmAbout::FillAboutText() {
    const QScopedValueRollback<bool> filling(filling_, true);
    QTextDocument* doc = rtfAbout->document();
    doc->clear();
    QTextCursor c(doc);
    QTextBlockFormat block;
    block.setTopMargin(0);
    block.setBottomMargin(0);
    c.setBlockFormat(block);
    c.insertText(QStringLiteral("Kaldrome"), NameFormat());
    c.insertText(QStringLiteral("  Version 1.12"), PlainFormat());
    c.insertBlock(block, PlainFormat());
    c.insertText(QStringLiteral("Made by "), PlainFormat());
    c.insertText(QStringLiteral("Orvane Software"), NameFormat());
    c.insertText(QStringLiteral(", a company of"), PlainFormat());
    c.insertBlock(block, PlainFormat());
    c.insertText(QStringLiteral("Vellmark Group"), NameFormat());
    c.insertText(QStringLiteral(". All rights reserved."), PlainFormat());
    // Typing goes on in the plain format, and the view starts at the top.
    rtfAbout->setCurrentCharFormat(PlainFormat());
    rtfAbout->moveCursor(QTextCursor::Start);
    rtfAbout->ensureCursorVisible();
}

void FrmAbout::CentreOnScreen() {
    kaldrome::CentreOnScreen(this);
}

void FrmAbout::cmdContinue_Click() {
    accept();
}

void FrmAbout::imgDireccion_Click() {
    const QString address = ProductsPageAddress();
    Utilities::OpenDocument(address);
}

bool FrmAbout::eventFilter(QObject* watched, QEvent* event) {
    if (watched == imgDireccion) {
        // A click is a left press and release over the picture.
        if (event->type() == QEvent::MouseButtonPress) {
            auto* me = static_cast<QMouseEvent*>(event);
            linkPressed_ = me->button() == Qt::LeftButton;
            return linkPressed_;
        }
        if (event->type() == QEvent::MouseButtonRelease) {
            auto* me = static_cast<QMouseEvent*>(event);
            const bool click = linkPressed_ && me->button() == Qt::LeftButton &&
                               imgDireccion->rect().contains(me->position().toPoint());
            linkPressed_ = false;
            if (click) imgDireccion_Click();
            return click;
        }
    }
    return QDialog::eventFilter(watched, event);
}

}  // namespace kaldrome

#include "frm_about.moc"
