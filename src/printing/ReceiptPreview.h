#pragma once

#include "printing/EscPosRender.h"

#include <QByteArray>
#include <QDateTime>
#include <QDialog>
#include <QImage>
#include <QString>

#include <functional>

class QLabel;
class QPushButton;
class QScrollArea;

// "Просмотр чека": the receipt as the ESC/POS printer would print the stream, for the
// "screen" connection and for anyone without a receipt printer at hand. Non-modal; it
// deletes itself when closed, so that a preview left open never holds up printing.
class TReceiptPreview : public QDialog {
    Q_OBJECT

public:
    // Asks where to save the picture; an empty name means the operator changed their mind.
    using FileNameAsker = std::function<QString(QWidget* parent, const QString& suggested)>;

    // title names the receipt ("Чек 125"); it is shown above the picture and names the file.
    TReceiptPreview(const QByteArray& stream, const QString& title, QWidget* parent = nullptr);
    ~TReceiptPreview() override;

    // Opens a preview without a parent and shows it; it lives until it is closed.
    static TReceiptPreview* showStream(const QByteArray& stream, const QString& title);

    // The name "Сохранить PNG" offers: "чек-<the number of the title>.png", or the time
    // when the title has nothing of a name.
    static QString defaultFileName(const QString& title, const QDateTime& now);

    const EscPosRendering& rendering() const { return m_rendering; }
    const QImage& image() const { return m_image; }

    // Writes the picture as PNG; false when the file cannot be written.
    bool saveTo(const QString& path) const;

    // Replaces the file dialog of "Сохранить PNG" (tests give the name directly).
    void setFileNameAsker(FileNameAsker asker) { m_askFileName = std::move(asker); }

    QLabel* lblTitle = nullptr;
    QScrollArea* scrImage = nullptr;
    QLabel* lblImage = nullptr;
    QPushButton* btnSave = nullptr;
    QPushButton* btnClose = nullptr;

private:
    void btnSaveClick();

    QString m_title;
    EscPosRendering m_rendering;
    QImage m_image;
    FileNameAsker m_askFileName;
};
