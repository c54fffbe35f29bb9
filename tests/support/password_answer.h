#pragma once
// Plays the user at the password gate: the next time the gate is shown, the
// word is typed into it and "Ok" clicked.

#include <QString>

class ScriptedBoxes;

void AnswerPassword(ScriptedBoxes& boxes, const QString& word);
