// A program that holds idle off through org.freedesktop.ScreenSaver, as a
// video player does.
int main() { return 1; }
