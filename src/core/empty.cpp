// Keeps a library without sources of its own linkable.
