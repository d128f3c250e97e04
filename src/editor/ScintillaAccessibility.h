// Keeps the accessibility support of the Scintilla controls cheap in large documents.
#pragma once

class QsciScintillaBase;

// Installs, once per process, an accessibility factory that answers every Scintilla control with
// a light interface whose position conversions do not scan the document. Must run after the
// first Scintilla control exists: the factory installed last is asked first.
void InstallScintillaAccessibility();

// Called on each UI update of a control: tells an active assistive technology where the caret
// is. Does nothing (and costs nothing) while no assistive technology is listening.
void NotifyScintillaCaretMoved(QsciScintillaBase *control);
