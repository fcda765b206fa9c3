#pragma once

namespace Ui
{
class TFMain;
}

// The two looks of the window's text views: the alternative one (black, lime,
// fixed pitch) and the system's ordinary one.
class WindowLook
{
public:
    explicit WindowLook(Ui::TFMain& ui);

    // The designed look: memos, find box and About page black with lime text.
    void applyDesigned();
    // The look the "Vellu" box asks for, on the journal, the notes and both lists.
    void chkVellumixClick();
    // Re-reading the window puts back the designed fonts; a look chosen since is applied again.
    void reapplyChosen();

private:
    Ui::TFMain& m_ui;
    bool m_chosen = false;
};
