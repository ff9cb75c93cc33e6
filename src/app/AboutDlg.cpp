#include "app/AboutDlg.h"

#include "app/config.h"
#include "res/Icons.h"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("Quillaのﾊﾞｰｼﾞｮﾝ情報"));
    auto* icon = new QLabel;
    icon->setPixmap(Icons::Application().pixmap(32, 32));
    auto* name = new QLabel(QStringLiteral("Norvo Pictoquill Version %1").arg(QUILLA_VERSION));
    name->setObjectName(QStringLiteral("productName"));
    auto* copyright = new QLabel(QStringLiteral("Copyright (C) 2026 Norvo"));
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);

    auto* grid = new QGridLayout(this);
    grid->addWidget(icon, 0, 0, 2, 1, Qt::AlignTop);
    grid->addWidget(name, 0, 1);
    grid->addWidget(copyright, 1, 1);
    grid->addWidget(buttons, 0, 2, 2, 1, Qt::AlignTop);
    grid->setSizeConstraint(QLayout::SetFixedSize);
}
