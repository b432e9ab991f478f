#pragma once

#include <memory>
#include <string>

class Database;
class Workspace;
struct Form1;

// What the window says when the database cannot be opened.
inline constexpr const char* kConnectionFailed = "No se ha podido realizar la conexión al servidor";

// Opens the program's database at `path` with `workspace`, as the program opens it (its password); nothing when it
// cannot be opened. Shows nothing.
std::unique_ptr<Database> openDatabase(Workspace& workspace, const std::string& path);

// Start-up: the output folder, the connection, and the taxpayer list when the connection succeeded.
void Form_Load(Form1& form);

// Opens the program's Impuest.mdb into Conn; shows "Atención" and returns false when it cannot.
bool Conectar_Base(Form1& form);
// The same for the database file at `path`, as the command line names it.
bool Conectar_Base(Form1& form, const std::string& path);

// "Todo", "Borrar" and "Salir" (closes the database and the workspace; the window unloads itself).
void Command2_Click(Form1& form);
void btn_borrar_Click(Form1& form);
void Command3_Click(Form1& form);
