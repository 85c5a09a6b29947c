// The engine's own texts that are not English, each with its English form.
// Pictures keep the engine's text in LastError (the window shows it as it
// is); the command line and the Python package, whose other words are
// English, say the English form. A window in English can use it too.
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

struct VxMessage {
    const char* id;       // stable name for a translation catalogue
    const char* native;   // the text the engine puts in LastError
    const char* english;
};

// Every such text (the table ends with a null id).
const VxMessage* VxMessages();

// `text` with each engine text in it replaced by its English form.
std::string VxEnglish(std::string_view text);

// What a row's output could not keep of its source, said in English; the
// window, the command line and the run's report show the same words.
struct VxNoteText {
    const char* id;       // stable name for a translation catalogue
    const char* english;  // {1}, {2}, ... stand for the note's values
};

// Every note text (the table ends with a null id).
const VxNoteText* VxNoteTexts();

// A note as its id and values, for a front end that says it in another
// language (its own catalogue of the ids).
struct VxNoteParts {
    std::string id;
    std::vector<std::string> values;
};

// `text` with {1}, {2}, ... replaced by `values`.
std::string VxFillNote(std::string_view text, const std::vector<std::string>& values);

// The note in English; empty for an unknown id.
std::string VxNote(const VxNoteParts& note);
