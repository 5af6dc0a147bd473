// Anchor of the shared test support library; fakes live beside it.
