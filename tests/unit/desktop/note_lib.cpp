// A shared library that only carries a version note (as libtsapi.so does).
int kvrNoteLibAnswer() {
    return 42;
}
