-- Applied after gzs007.sql: without the other row of the same group and
-- parent, the probe finds nothing and row 013 keeps its GZS007006.
DELETE FROM GZS007 WHERE GUID = 'A520000000000000GZU011011_014';
