// "サムネイルサイズ": the custom thumbnail size.
#pragma once

#include <QDialog>

class QLineEdit;

class CThumbnailSizeDlg : public QDialog {
    Q_OBJECT
public:
    explicit CThumbnailSizeDlg(QWidget* parent = nullptr);

    unsigned m_nHeight = 0; // "高さ(&H)"
    unsigned m_nWidth = 0;  // "幅(&W)"

    void accept() override;
    QLineEdit* HeightEdit() const { return m_height; }
    QLineEdit* WidthEdit() const { return m_width; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    QLineEdit* m_height;
    QLineEdit* m_width;
};

// Reads an unsigned decimal number from the field; on failure says "正の整数を入力してください。",
// puts the focus back into the field and returns false.
bool ExchangeUnsigned(QLineEdit* edit, unsigned& value);
