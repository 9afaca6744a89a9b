#include "ui/AboutDlg.h"

#include "app/Constants.h"

#include <QFile>
#include <QFontDatabase>
#include <QLabel>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QSpacerItem>
#include <QUrl>
#include <QVBoxLayout>

namespace {

// The maker's addresses are placeholders under the reserved example domains
// until the maker publishes its own.
const char* const kMakerSite = "https://www.example.com/velar";
const char* const kSupportMail = "support@example.com";
// The slicer's sources, as its Debian package's copyright file names them.
const char* const kSlicerSources = "https://github.com/Ultimaker/CuraEngine";
// The slicer's licence, shipped with the program as a resource and shown by
// the box itself (a browser cannot open a resource).
const char* const kLicenceText = "qrc:/Licences/AGPL-3.0.txt";

QLabel* makeLabel(QWidget* parent, const char* name, int pointSize, bool bold = false) {
    auto* label = new QLabel(parent);
    label->setObjectName(QString::fromLatin1(name));
    QFont font = label->font();
    font.setPointSize(pointSize);
    if (bold)
        font.setWeight(75);
    label->setFont(font);
    return label;
}

// A link showing its address, or text when given.
QString link(const char* url, const QString& text = QString()) {
    const QString address = QString::fromLatin1(url);
    return QStringLiteral("<a href=\"%1\">%2</a>").arg(address, text.isEmpty() ? address : text);
}

} // namespace

AboutDlg::AboutDlg(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("AboutDlg"));
    resize(584, 495);
    setWindowTitle(tr("About Velar3D"));

    auto* layout = new QVBoxLayout(this);
    layout->setObjectName(QStringLiteral("verticalLayout"));
    layout->setSpacing(6);
    layout->setContentsMargins(11, 11, 11, 11);
    layout->addItem(new QSpacerItem(20, 40, QSizePolicy::Minimum, QSizePolicy::Expanding));

    auto* logo = new QLabel(this);
    logo->setObjectName(QStringLiteral("label_2"));
    logo->setPixmap(QPixmap(QStringLiteral(":/Dialog/Resources/Dialog/logo_norvane.png")));
    logo->setAlignment(Qt::AlignCenter);
    layout->addWidget(logo);

    QLabel* title = makeLabel(this, "_lbInfo_2", 14);
    title->setAlignment(Qt::AlignCenter);
    title->setText(tr("\n Velar, a 3D printing software  by Norvane"));
    layout->addWidget(title);

    QLabel* info = makeLabel(this, "_lbInfo", 14);
    info->setAlignment(Qt::AlignCenter);
    info->setTextFormat(Qt::RichText);
    info->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::LinksAccessibleByMouse |
                                  Qt::LinksAccessibleByKeyboard);
    info->setOpenExternalLinks(true);
    info->setText(tr("For more information, visit %1").arg(link(kMakerSite)));
    layout->addWidget(info);

    QLabel* version = makeLabel(this, "_labelVersion", 10, true);
    version->setAlignment(Qt::AlignCenter);
    version->setText(QStringLiteral("%1 %2").arg(tr("\nVersion"), APP_VERSION));
    layout->addWidget(version);

    layout->addItem(new QSpacerItem(20, 40, QSizePolicy::Minimum, QSizePolicy::Expanding));

    QLabel* notice = makeLabel(this, "label_3", 10);
    notice->setWordWrap(true);
    notice->setText(
        tr("GCode generation is provided by Ultimaker CuraEngine. CuraEngine is released under terms "
           "of the AGPLv3 License."));
    layout->addWidget(notice);

    QLabel* slicerUrl = makeLabel(this, "_labelCuraURL", 10);
    slicerUrl->setOpenExternalLinks(true);
    slicerUrl->setText(tr("CureEngine has a URL: ") + link(kSlicerSources));
    layout->addWidget(slicerUrl);

    QLabel* licenceUrl = makeLabel(this, "_labelAPGL_URL", 10);
    licenceUrl->setText(tr("APGLv3 has a URL: ") +
                        link(kLicenceText, tr("GNU Affero General Public License, version 3")));
    connect(licenceUrl, &QLabel::linkActivated, this, &AboutDlg::showLicence);
    layout->addWidget(licenceUrl);

    QLabel* mail = makeLabel(this, "label", 10);
    mail->setMinimumSize(0, 28);
    mail->setAlignment(Qt::AlignCenter);
    mail->setText(tr("Email: ") + QString::fromLatin1(kSupportMail));
    layout->addWidget(mail);
}

AboutDlg::~AboutDlg() = default;

void AboutDlg::showLicence() {
    if (!_licenceDlg) {
        QFile file(QUrl(QString::fromLatin1(kLicenceText)).path().prepend(QLatin1Char(':')));
        file.open(QIODevice::ReadOnly);
        _licenceDlg = new QDialog(this);
        _licenceDlg->setObjectName(QStringLiteral("LicenceDlg"));
        _licenceDlg->setWindowTitle(tr("AGPLv3"));
        _licenceDlg->resize(640, 600);
        auto* layout = new QVBoxLayout(_licenceDlg);
        auto* text = new QPlainTextEdit(QString::fromUtf8(file.readAll()), _licenceDlg);
        text->setObjectName(QStringLiteral("_licenceText"));
        text->setReadOnly(true);
        text->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
        layout->addWidget(text);
    }
    _licenceDlg->show();
    _licenceDlg->raise();
}
