#pragma once

// The identifiers of the Windows windows' controls: the windows create them, and a program that drives the windows
// (the tests' driver) finds them by these numbers. None is 1 or 2, which Enter and Esc send as commands.
namespace ControlId {
// The main window.
inline constexpr int lst_contribuyentes = 101;
inline constexpr int txt_desde = 102;
inline constexpr int txt_hasta = 103;
inline constexpr int Command2 = 104;  // "Todo"
inline constexpr int btn_borrar = 105;
inline constexpr int chk_separador_0 = 106;  // 107 and 108 for options 1 and 2
inline constexpr int btn_gen_txt_orv = 110;
inline constexpr int BTN_XLS = 111;
inline constexpr int btn_gen_csv = 112;
inline constexpr int Command3 = 113;  // "Salir"

// The progress window of an export.
inline constexpr int lbl_contribuyente = 201;
inline constexpr int lbl_declaraciones = 202;
inline constexpr int prg_declaraciones = 203;
inline constexpr int lbl_movimientos = 204;
inline constexpr int btn_cancelar_exportacion = 205;

// The window of every taxpayer.
inline constexpr int todos_desde = 301;
inline constexpr int todos_hasta = 302;
inline constexpr int todos_todo = 303;
inline constexpr int todos_formato = 304;
inline constexpr int todos_separadores = 305;
inline constexpr int todos_carpeta = 306;
inline constexpr int todos_cambiar = 307;
inline constexpr int todos_reemplazar = 308;
inline constexpr int todos_verificar = 309;
inline constexpr int todos_contar = 310;
inline constexpr int todos_exportar = 311;
inline constexpr int todos_cancelar = 312;
inline constexpr int todos_informe = 313;
inline constexpr int todos_avance = 314;
inline constexpr int todos_estado = 315;
inline constexpr int todos_problemas = 316;
inline constexpr int todos_tabla = 317;
}  // namespace ControlId

// The window classes, by which a driver finds the windows.
inline constexpr const wchar_t* kMainWindowClass = L"VelmoraForm1";
inline constexpr const wchar_t* kProgressWindowClass = L"VelmoraExportProgress";
inline constexpr const wchar_t* kAllTaxpayersWindowClass = L"VelmoraTodos";
