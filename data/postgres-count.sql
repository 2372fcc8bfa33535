-- The number of contacts, kept in 64 parts summed on reading, in place of
-- one row every insert and delete updated: with one row, each desk's save
-- waited for every other desk's to commit. Each row counted takes a part no
-- other open transaction holds (SKIP LOCKED), starting from one of the
-- session's own, so that desks saving at once seldom meet and never wait on
-- one another; the count stays exact, for each part changes in the same
-- transaction as the rows it counts.
--
-- Run on a register made with the single row: the writers are held off
-- while the rows are counted anew and the row is replaced. The view keeps
-- its name and column, so that what reads the count reads it as before.
LOCK TABLE cada IN SHARE ROW EXCLUSIVE MODE;

CREATE TABLE cada_contagem_parte (parte INT PRIMARY KEY, n BIGINT NOT NULL);
INSERT INTO cada_contagem_parte (parte, n) SELECT p, 0 FROM generate_series(0, 63) p;
UPDATE cada_contagem_parte SET n = (SELECT count(*) FROM cada) WHERE parte = 0;

-- zuna_conta(), the trigger's function that counts on the parts, is in
-- postgres-functions.sql, run after this script in the same transaction.

DROP TABLE cada_contagem;
CREATE VIEW cada_contagem AS SELECT coalesce(sum(n), 0)::BIGINT AS n FROM cada_contagem_parte
