// A string-resource library of the tests, read as data: its text is found
// by its marker.
extern "C" __attribute__((visibility("default"), used)) const char qresText[] = "qres text: " QRES_LANGUAGE ";";
