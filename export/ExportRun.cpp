#include "export/ExportRun.h"

#include <thread>
#include <utility>

namespace {

PlainControls snapshot(const Form1Controls& controls) {
    PlainControls copy;
    copy.combo = controls.lst_contribuyentes_Text();
    copy.desde = controls.txt_desde();
    copy.hasta = controls.txt_hasta();
    copy.separador = -1;  // none chosen, as the window may have it
    for (int index = 0; index <= 2; ++index)
        if (controls.chk_separador(index)) copy.separador = index;
    return copy;
}

// What the command uses besides the controls and boxes; the workbook object is held only inside a command.
void handOver(Form1& from, Form1& to) {
    to.Conn = std::move(from.Conn);
    to.file1 = std::move(from.file1);
    to.vExcelSheet = std::move(from.vExcelSheet);
    to.G_SC = from.G_SC;
    to.G_SD = from.G_SD;
    to.G_TIPO_ARCHIVO = from.G_TIPO_ARCHIVO;
    to.G_CARPETA_GENERACION = from.G_CARPETA_GENERACION;
}

}  // namespace

ExportRun::ExportRun(Form1& form, Command command, MessageBoxes& boxes, std::function<void()> wake)
    : m_form(form),
      m_command(command),
      m_controls(snapshot(form.controls)),
      m_job(std::make_unique<BackgroundJob>(boxes, std::move(wake))),
      m_commandForm(m_controls, m_job->boxes(), form.appPath) {
    m_commandForm.createObject = form.createObject;
    m_commandForm.createWorkspace = form.createWorkspace;
    handOver(m_form, m_commandForm);
    m_commandForm.observer = this;
}

ExportRun::~ExportRun() {
    // The job stops and waits for the worker before the form is handed back.
    m_job.reset();
    handBack();
}

void ExportRun::start(Ended ended) {
    m_job->start([this] { m_outcome = m_command(m_commandForm); },
                 [this, ended = std::move(ended)](const BackgroundJob::End& end) {
                     handBack();
                     if (end.escaped) {
                         m_outcome = {};
                         m_outcome.kind = ExportOutcome::Kind::Failed;
                         m_outcome.description = end.failure;
                     }
                     ended(m_outcome, end.failure);
                 });
}

ExportProgress ExportRun::progress() const {
    // Read in the reverse of the order the worker writes them: a snapshot showing a movement shows the declarations
    // done before it.
    ExportProgress progress;
    progress.movements = m_movements;
    progress.declarationsDone = m_declarationsDone;
    progress.declarations = m_declarations;
    progress.started = m_started;
    const std::lock_guard lock(m_referenceMutex);
    progress.reference = m_reference;
    return progress;
}

void ExportRun::handBack() {
    if (std::exchange(m_handedBack, true)) return;
    handOver(m_commandForm, m_form);
}

void ExportRun::exportStarted(const std::string& reference) {
    {
        const std::lock_guard lock(m_referenceMutex);
        m_reference = reference;
    }
    m_started = true;
}

void ExportRun::exportRestarted() {
    // In the reverse of the order progress() reads them.
    m_declarations = -1;
    m_declarationsDone = 0;
    m_movements = 0;
}

void ExportRun::declarationsChosen(std::int64_t count) { m_declarations = count; }

void ExportRun::movementWritten(const Movement&) {
    ++m_movements;
    if (m_pause.count() > 0) std::this_thread::sleep_for(m_pause);
}

void ExportRun::declarationDone() { ++m_declarationsDone; }

bool ExportRun::stopRequested() { return m_job->cancelRequested(); }
