// "Просмотр чека" on the offscreen platform: the picture of the stream, saving it as a PNG
// that loads back, the error when it cannot be saved, and a window that goes away when
// closed.
#include "printing/ReceiptPreview.h"

#include "TestUtil.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QLabel>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QScrollArea>
#include <QTemporaryDir>
#include <QTimer>

namespace {

const QByteArray kStream =
    QByteArrayLiteral("\x1C\x70\x01\x00"
                      "\x1B\x45\x31\x87\xA0\xAA\xA0\xA7 \xFC 125\x1B\x45\x30\r\n"
                      "\x1D\x68\x32\x1D\x77\x02\x1D\x6B\x49\x05{B125\r\n"
                      "\x1D\x56\x42\x08");

TEST(ReceiptPreview, ShowsThePictureOfTheStream) {
    TReceiptPreview preview(kStream, QStringLiteral("Чек 125"));
    EXPECT_EQ(preview.objectName(), QStringLiteral("frmReceiptPreview"));
    EXPECT_EQ(preview.windowTitle(), QStringLiteral("Просмотр чека"));
    EXPECT_FALSE(preview.isModal());
    EXPECT_TRUE(preview.testAttribute(Qt::WA_DeleteOnClose));
    EXPECT_EQ(preview.lblTitle->text(), QStringLiteral("Чек 125"));
    EXPECT_EQ(preview.rendering().textLines(), (QStringList{QStringLiteral("Заказ № 125"), ""}));
    ASSERT_EQ(preview.rendering().barcodes.size(), 1);
    EXPECT_EQ(preview.rendering().logos.size(), 1);
    EXPECT_EQ(preview.rendering().cuts.size(), 1);
    EXPECT_EQ(preview.image(), drawEscPos(preview.rendering()));
    EXPECT_EQ(preview.lblImage->pixmap().toImage().convertToFormat(QImage::Format_RGB32),
              preview.image());
    EXPECT_EQ(preview.scrImage->widget(), preview.lblImage);
    EXPECT_EQ(preview.btnSave->text(), QStringLiteral("Сохранить PNG"));
    EXPECT_EQ(preview.btnClose->text(), QStringLiteral("Закрыть"));
}

TEST(ReceiptPreview, DefaultFileNames) {
    const QDateTime now(QDate(2024, 3, 15), QTime(13, 45, 10));
    const struct {
        QString title;
        QString name;
    } cases[] = {
        {"Чек 125", "чек-125.png"},
        {"чек   А-17 ", "чек-А-17.png"},
        {"Чек 12/5: ../x", "чек-12-5-..-x.png"},
        {"Заказ 7", "чек-Заказ-7.png"},
        {"", "чек-20240315-134510.png"},
        {"Чек", "чек-20240315-134510.png"},
        {"Чек ..", "чек-20240315-134510.png"},
        {"Чек /", "чек-20240315-134510.png"},
    };
    for (const auto& c : cases) {
        const QString name = TReceiptPreview::defaultFileName(c.title, now);
        EXPECT_EQ(name, c.name) << c.title.toStdString();
        EXPECT_FALSE(name.contains(QLatin1Char('/'))) << name.toStdString();
    }
}

class ReceiptPreviewSave : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_dir.isValid()); }

    // Clicks "Сохранить PNG" with the file dialog answering answer; returns what the
    // dialog was offered.
    QString clickSave(TReceiptPreview& preview, const QString& answer) {
        QString offered;
        preview.setFileNameAsker([&](QWidget* parent, const QString& suggested) {
            EXPECT_EQ(parent, &preview);
            offered = suggested;
            return answer;
        });
        preview.btnSave->click();
        return offered;
    }

    QTemporaryDir m_dir;
};

TEST_F(ReceiptPreviewSave, TheButtonWritesAPngOfThePicture) {
    TReceiptPreview preview(kStream, QStringLiteral("Чек 125"));
    const QString path = m_dir.filePath(QStringLiteral("чек-125.png"));
    const QString offered = clickSave(preview, path);
    EXPECT_EQ(QFileInfo(offered).fileName(), QStringLiteral("чек-125.png"));
    QImage loaded;
    ASSERT_TRUE(loaded.load(path, "PNG"));
    EXPECT_EQ(loaded.size(), preview.image().size());
    EXPECT_EQ(loaded.convertToFormat(QImage::Format_RGB32), preview.image());
}

TEST_F(ReceiptPreviewSave, ChangingTheMindWritesNothing) {
    TReceiptPreview preview(kStream, QStringLiteral("Чек 125"));
    clickSave(preview, QString());
    EXPECT_TRUE(QDir(m_dir.path()).isEmpty());
}

// The box reports the failure over the preview only, and the preview stays.
TEST_F(ReceiptPreviewSave, AFileThatCannotBeWrittenIsAnError) {
    QPointer<TReceiptPreview> preview =
        TReceiptPreview::showStream(kStream, QStringLiteral("Чек 125"));
    const QString path = m_dir.filePath(QStringLiteral("missing/чек.png"));
    QString title, text;
    Qt::WindowModality modality = Qt::NonModal;
    QWidget* boxParent = nullptr;
    auto* timer = new QTimer;
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, timer, [&, timer] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box)
            return;
        timer->stop();
        timer->deleteLater();
        title = box->windowTitle();
        text = box->text();
        modality = box->windowModality();
        boxParent = box->parentWidget();
        box->accept();
    });
    timer->start();
    clickSave(*preview, path);
    EXPECT_EQ(title, QStringLiteral("Ошибка"));
    EXPECT_TRUE(text.contains(path)) << text.toStdString();
    EXPECT_EQ(modality, Qt::WindowModal);
    EXPECT_EQ(boxParent, preview.data());
    EXPECT_FALSE(QFileInfo::exists(path));
    ASSERT_FALSE(preview.isNull());
    EXPECT_TRUE(preview->isVisible());
    preview->close();
}

TEST(ReceiptPreview, OpensWithoutParentAndGoesAwayWhenClosed) {
    QPointer<TReceiptPreview> preview =
        TReceiptPreview::showStream(kStream, QStringLiteral("Чек 125"));
    ASSERT_FALSE(preview.isNull());
    EXPECT_EQ(preview->parentWidget(), nullptr);
    EXPECT_TRUE(preview->isVisible());
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr); // nothing else is blocked
    preview->btnClose->click();
    EXPECT_TRUE(testutil::waitUntil([&] { return preview.isNull(); }));
}

} // namespace
