#include "app/ExportProgressDialog.h"

#include "runtime/UserNumbers.h"

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>

ExportProgressDialog::ExportProgressDialog(QWidget* parent, std::function<ExportProgress()> progress,
                                           std::function<void()> cancel)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint),
      m_progress(std::move(progress)),
      m_taxpayer(new QLabel(this)),
      m_declarations(new QLabel(this)),
      m_movements(new QLabel(this)),
      m_bar(new QProgressBar(this)),
      m_cancelar(new QPushButton(QStringLiteral("Cancelar"), this)),
      m_refresh(new QTimer(this)) {
    setObjectName(QStringLiteral("ExportProgress"));
    setWindowTitle(QStringLiteral("Generando archivo"));
    // Not modal: "Salir" and the main window's close control stay at hand while an export runs (the window lets
    // the export end first); the export buttons start nothing meanwhile.
    setWindowModality(Qt::NonModal);
    m_taxpayer->setObjectName(QStringLiteral("lbl_contribuyente"));
    m_declarations->setObjectName(QStringLiteral("lbl_declaraciones"));
    m_movements->setObjectName(QStringLiteral("lbl_movimientos"));
    m_cancelar->setObjectName(QStringLiteral("btn_cancelar"));
    m_bar->setTextVisible(false);

    auto* layout = new QVBoxLayout(this);
    for (QWidget* widget : {static_cast<QWidget*>(m_taxpayer), static_cast<QWidget*>(m_declarations),
                            static_cast<QWidget*>(m_bar), static_cast<QWidget*>(m_movements)})
        layout->addWidget(widget);
    layout->addWidget(m_cancelar, 0, Qt::AlignRight);
    setMinimumWidth(320);

    connect(m_cancelar, &QPushButton::clicked, this, std::move(cancel));
    connect(m_refresh, &QTimer::timeout, this, &ExportProgressDialog::refresh);
    m_refresh->setInterval(100);
}

void ExportProgressDialog::reject() { m_cancelar->click(); }

void ExportProgressDialog::showEvent(QShowEvent* event) {
    refresh();
    m_refresh->start();
    m_cancelar->setFocus();
    QDialog::showEvent(event);
}

void ExportProgressDialog::refresh() {
    const ExportProgress now = m_progress();
    m_taxpayer->setText(QStringLiteral("Contribuyente: ") + QString::fromStdString(now.reference));
    if (now.declarations < 0) {
        m_declarations->setText(QStringLiteral("Declaraciones: …"));
        m_bar->setRange(0, 0);
    } else {
        m_declarations->setText(QStringLiteral("Declaraciones: %1 de %2")
                                    .arg(QString::fromStdString(userCount(now.declarationsDone)),
                                         QString::fromStdString(userCount(now.declarations))));
        // The bar counts in declarations, which stay far below its int range.
        m_bar->setRange(0, static_cast<int>(std::max<std::int64_t>(now.declarations, 1)));
        m_bar->setValue(static_cast<int>(now.declarationsDone));
    }
    m_movements->setText(QStringLiteral("Movimientos escritos: ") + QString::fromStdString(userCount(now.movements)));
}
