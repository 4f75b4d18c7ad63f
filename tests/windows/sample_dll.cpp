// A DLL for a sample installation's bin folder: what matters is only that a program can load it.
extern "C" __declspec(dllexport) int GsuSample() { return 1; }
