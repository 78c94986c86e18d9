// Anchors the precompiled header shared by the tests; it has no code of its own.
