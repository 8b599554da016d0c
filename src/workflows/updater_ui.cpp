#include "workflows/updater_ui.h"

const char* lineName(Line line) {
    switch (line) {
        case Line::Msg:
            return "txtMsg";
        case Line::Name:
            return "txtName";
        case Line::Car:
            return "txtCar";
        case Line::Firm:
            return "txtFirm";
        case Line::Status:
            return "txtStatus";
    }
    return "?";
}

const char* colourName(Colour colour) {
    switch (colour) {
        case Colour::Black:
            return "black";
        case Colour::Red:
            return "red";
        case Colour::Green:
            return "green";
    }
    return "?";
}

const char* controlName(Control control) {
    switch (control) {
        case Control::Find:
            return "btnFind";
        case Control::Program:
            return "btnProgram";
        case Control::ProgramMemories:
            return "btnProgramMemories";
        case Control::UploadReadFiles:
            return "btnUploadReadFiles";
        case Control::Manual:
            return "btnManual";
        case Control::Close:
            return "btnClose";
        case Control::FirmLabel:
            return "txtFirmLabel";
        case Control::Choices:
            return "firmwareChoice";
    }
    return "?";
}
