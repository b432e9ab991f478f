#pragma once

#include <string>
#include <vector>

// The controls of the main window that the procedures read or fill. The window implements it with widgets; the
// command line, tests and benchmarks use PlainControls.
class Form1Controls {
public:
    virtual ~Form1Controls() = default;

    virtual std::string lst_contribuyentes_Text() const = 0;
    virtual void lst_contribuyentes_AddItem(const std::string& entry) = 0;
    virtual std::string txt_desde() const = 0;
    virtual std::string txt_hasta() const = 0;
    virtual void set_txt_desde(const std::string& text) = 0;
    virtual void set_txt_hasta(const std::string& text) = 0;
    // True when element `index` (0, 1 or 2) of the separator options is the selected one.
    virtual bool chk_separador(int index) const = 0;
};

// Controls held as plain values, for running the procedures without a window.
class PlainControls : public Form1Controls {
public:
    std::string combo;
    std::vector<std::string> list;
    std::string desde;
    std::string hasta;
    int separador = 2;

    std::string lst_contribuyentes_Text() const override { return combo; }
    void lst_contribuyentes_AddItem(const std::string& entry) override { list.push_back(entry); }
    std::string txt_desde() const override { return desde; }
    std::string txt_hasta() const override { return hasta; }
    void set_txt_desde(const std::string& text) override { desde = text; }
    void set_txt_hasta(const std::string& text) override { hasta = text; }
    bool chk_separador(int index) const override { return separador == index; }
};
