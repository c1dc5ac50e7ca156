-- The whole current schema, for a new store. Each schema-N.sql takes a store
-- from version N-1 to N; a new version adds its file and changes this one.
-- Texts are BLOBs: the site's own bytes (GBK), never converted.

CREATE TABLE songs (
  position INTEGER PRIMARY KEY,  -- list order; rows are only ever appended
  singer BLOB NOT NULL,
  title BLOB NOT NULL,
  download_link BLOB NOT NULL,
  singer_link BLOB NOT NULL,
  song_link BLOB NOT NULL
);

CREATE TABLE downloads (
  id INTEGER PRIMARY KEY,  -- order handed to the download window
  singer BLOB NOT NULL,
  title BLOB NOT NULL,
  download_link BLOB NOT NULL,
  singer_link BLOB NOT NULL,
  song_link BLOB NOT NULL,
  folder TEXT NOT NULL,
  finished INTEGER NOT NULL DEFAULT 0,
  total_bytes INTEGER NOT NULL DEFAULT 0
);
