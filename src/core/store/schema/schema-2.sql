-- The download queue.
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
