// morvane: the command line of the component (init, call, serve).
int main() { return 0; }
