#include "printing/ReceiptPreview.h"

#include <QDir>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPixmap>
#include <QPushButton>
#include <QScrollArea>
#include <QStandardPaths>
#include <QVBoxLayout>

#include <algorithm>

namespace {

QString askFileName(QWidget* parent, const QString& suggested) {
    return QFileDialog::getSaveFileName(parent, QStringLiteral("Сохранить PNG"), suggested,
                                        QStringLiteral("Изображение PNG (*.png)"));
}

} // namespace

TReceiptPreview::TReceiptPreview(const QByteArray& stream, const QString& title, QWidget* parent)
    : QDialog(parent)
    , m_title(title)
    , m_rendering(renderEscPos(stream))
    , m_image(drawEscPos(m_rendering))
    , m_askFileName(askFileName) {
    setObjectName(QStringLiteral("frmReceiptPreview"));
    setWindowTitle(QStringLiteral("Просмотр чека"));
    setAttribute(Qt::WA_DeleteOnClose);
    setModal(false);

    auto* root = new QVBoxLayout(this);
    lblTitle = new QLabel(title, this);
    lblTitle->setObjectName(QStringLiteral("lblTitle"));
    root->addWidget(lblTitle);

    lblImage = new QLabel;
    lblImage->setObjectName(QStringLiteral("lblImage"));
    lblImage->setPixmap(QPixmap::fromImage(m_image));
    lblImage->resize(m_image.size());
    scrImage = new QScrollArea(this);
    scrImage->setObjectName(QStringLiteral("scrImage"));
    scrImage->setWidget(lblImage);
    scrImage->setAlignment(Qt::AlignHCenter);
    root->addWidget(scrImage, 1);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    btnSave = new QPushButton(QStringLiteral("Сохранить PNG"), this);
    btnSave->setObjectName(QStringLiteral("btnSave"));
    btnClose = new QPushButton(QStringLiteral("Закрыть"), this);
    btnClose->setObjectName(QStringLiteral("btnClose"));
    btnClose->setDefault(true);
    buttons->addWidget(btnSave);
    buttons->addWidget(btnClose);
    root->addLayout(buttons);

    connect(btnSave, &QPushButton::clicked, this, &TReceiptPreview::btnSaveClick);
    connect(btnClose, &QPushButton::clicked, this, &QDialog::close);

    // The whole width of the paper and as much of its length as the screen allows.
    const int frame = scrImage->frameWidth() * 2 + 24;
    resize(m_image.width() + frame + 24, std::min(m_image.height() + 120, 900));
}

TReceiptPreview::~TReceiptPreview() = default;

TReceiptPreview* TReceiptPreview::showStream(const QByteArray& stream, const QString& title) {
    auto* preview = new TReceiptPreview(stream, title);
    preview->show();
    return preview;
}

QString TReceiptPreview::defaultFileName(const QString& title, const QDateTime& now) {
    // "Чек 125" names the file by its number; whatever could not stand in a file name
    // becomes a dash.
    QString name = title.trimmed();
    if (name.startsWith(QStringLiteral("Чек"), Qt::CaseInsensitive))
        name = name.mid(3);
    QString safe;
    for (const QChar c : std::as_const(name)) {
        if (c.isLetterOrNumber() || c == QLatin1Char('_') || c == QLatin1Char('.'))
            safe += c;
        else if (!safe.isEmpty() && !safe.endsWith(QLatin1Char('-')))
            safe += QLatin1Char('-');
    }
    while (safe.endsWith(QLatin1Char('-')) || safe.endsWith(QLatin1Char('.')))
        safe.chop(1);
    while (safe.startsWith(QLatin1Char('.')))
        safe.remove(0, 1);
    if (safe.isEmpty())
        safe = now.toString(QStringLiteral("yyyyMMdd-HHmmss"));
    return QStringLiteral("чек-") + safe + QStringLiteral(".png");
}

bool TReceiptPreview::saveTo(const QString& path) const {
    return m_image.save(path, "PNG");
}

void TReceiptPreview::btnSaveClick() {
    QString folder = QStandardPaths::writableLocation(QStandardPaths::PicturesLocation);
    if (folder.isEmpty() || !QDir(folder).exists())
        folder = QDir::homePath();
    const QString suggested =
        QDir(folder).filePath(defaultFileName(m_title, QDateTime::currentDateTime()));
    const QString path = m_askFileName(this, suggested);
    if (path.isEmpty())
        return;
    if (saveTo(path))
        return;
    QMessageBox box(QMessageBox::Critical, QStringLiteral("Ошибка"),
                    QStringLiteral("Не удалось сохранить чек в файл\n%1").arg(path),
                    QMessageBox::Ok, this);
    box.setWindowModality(Qt::WindowModal); // blocks this window, not the order windows
    box.exec();
}
