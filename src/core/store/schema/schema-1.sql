-- The song list.
CREATE TABLE songs (
  position INTEGER PRIMARY KEY,  -- list order; rows are only ever appended
  singer BLOB NOT NULL,
  title BLOB NOT NULL,
  download_link BLOB NOT NULL,
  singer_link BLOB NOT NULL,
  song_link BLOB NOT NULL
);
