#pragma once

#include <QDialog>

class QFrame;
class QLabel;

// The About dialog: a click on the dialog, its panel or its picture closes it; the labels do not react.
class TAboutBox : public QDialog
{
    Q_OBJECT
public:
    explicit TAboutBox(QWidget* parent = nullptr);

    QFrame* Panel1 = nullptr;
    QLabel* ProgramIcon = nullptr;
    QLabel* ProductName = nullptr;
    QLabel* ProductNameValue = nullptr;
    QLabel* Version = nullptr;
    QLabel* VersionValue = nullptr;

    // The program's picture, also the window icon.
    static QPixmap ProgramPicture();

protected:
    void mouseReleaseEvent(QMouseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void FormClick();
};
