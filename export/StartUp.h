#pragma once

#include <string>

struct Form1;

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
