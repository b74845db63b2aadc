-- The tables gentrmx reads, as a SQLite stand-in for the installation's
-- SQL Server database (schema Dravonix; the extension gentrmx_sqlext
-- attaches the file under that name).
--
-- Types: dates are 'YYYYMMDD' text; status, code, number and language
-- columns are INTEGER; everything else is TEXT. Columns that are fixed-width
-- CHAR on the server may hold trailing blanks here as well. The server
-- compares such values without regard to trailing blanks, so every text
-- column that is compared or joined on carries COLLATE RTRIM, which does
-- the same; indexes inherit it.
--
-- Natural keys are indexed but not declared unique: the tool has to cope
-- with duplicate rows (a class listed twice for a terminal, a badge with two
-- location assignments, two terminal rows of one name), and test data must
-- be able to hold them.

-- Badges: master data, validity, licence and client.
CREATE TABLE Xel301Asw (
  AswNum TEXT COLLATE RTRIM NOT NULL,  -- badge number
  AswLiz INTEGER,                      -- licence
  AswMnd INTEGER,                      -- client
  AswGvo TEXT,                         -- valid from, YYYYMMDD
  AswGbi TEXT,                         -- valid until, YYYYMMDD
  AswPnr TEXT,                         -- personnel number (8)
  AswBkl TEXT,                         -- booking class, CHAR(3)
  AswBk2 TEXT,                         -- second booking class, CHAR(3)
  AswGrp TEXT,                         -- group (5)
  AswAan TEXT,                         -- display name (50)
  AswAtp INTEGER,                      -- badge type
  AswSal TEXT COLLATE RTRIM,           -- balance set (10)
  AswSpr INTEGER,                      -- language
  AswPin TEXT,                         -- PIN (32)
  AswSta INTEGER                       -- record status (4, 8: deleted)
);
CREATE INDEX Xel301Asw_Num ON Xel301Asw (AswNum, AswGvo, AswBkl);
CREATE INDEX Xel301Asw_Client ON Xel301Asw (AswLiz, AswMnd);

-- Location assignment of a badge.
CREATE TABLE Xel113Awv (
  AwvNum TEXT COLLATE RTRIM NOT NULL,  -- badge number
  AwvSto TEXT COLLATE RTRIM,           -- location number (8)
  AwvCod INTEGER,                      -- assignment code (8: blocked)
  AwvSta INTEGER
);
CREATE INDEX Xel113Awv_Num ON Xel113Awv (AwvNum);

-- Locations.
CREATE TABLE Xel113Sto (
  StoNum TEXT COLLATE RTRIM NOT NULL,  -- location number (8)
  StoKtx TEXT,                         -- short text (10)
  StoSta INTEGER
);
CREATE INDEX Xel113Sto_Num ON Xel113Sto (StoNum);

-- Terminals.
CREATE TABLE Xel1140Trm (
  TrmNam TEXT COLLATE RTRIM NOT NULL,  -- terminal name
  TrmMod TEXT,                         -- model (10)
  TrmSal TEXT COLLATE RTRIM,           -- balance set (10)
  TrmLiz INTEGER,
  TrmMnd INTEGER,
  TrmSpr INTEGER,                      -- display language
  TrmSta INTEGER
);
CREATE INDEX Xel1140Trm_Nam ON Xel1140Trm (TrmNam);

-- Licence and client pairs whose badges a terminal serves.
CREATE TABLE Xel115Tfz (
  TfzTrm TEXT COLLATE RTRIM NOT NULL,  -- terminal name
  TfzLiz INTEGER,
  TfzMnd INTEGER,
  TfzSta INTEGER
);
CREATE INDEX Xel115Tfz_Trm ON Xel115Tfz (TfzTrm, TfzLiz, TfzMnd);

-- Permission classes a terminal accepts: M35Bch '1' time booking, '0' access.
CREATE TABLE MGSST35P (
  M35Trm TEXT COLLATE RTRIM NOT NULL,  -- terminal name
  M35Bkl TEXT COLLATE RTRIM NOT NULL,  -- class (5)
  M35Bch TEXT COLLATE RTRIM NOT NULL   -- kind, CHAR(1)
);
CREATE INDEX MGSST35P_Trm ON MGSST35P (M35Trm, M35Bch, M35Bkl);

-- Permission classes of a badge.
CREATE TABLE Xel301Awb (
  AwbAsw TEXT COLLATE RTRIM NOT NULL,  -- badge number
  AwbBkl TEXT COLLATE RTRIM NOT NULL   -- class (5)
);
CREATE INDEX Xel301Awb_Asw ON Xel301Awb (AwbAsw, AwbBkl);

-- Readers of a terminal.
CREATE TABLE Xel401Zls (
  ZlsTrm TEXT COLLATE RTRIM NOT NULL,  -- terminal name
  ZlsLes INTEGER NOT NULL,             -- reader number
  ZlsZko TEXT,                         -- zone code (5)
  ZlsSta INTEGER
);
CREATE INDEX Xel401Zls_Trm ON Xel401Zls (ZlsTrm, ZlsLes);

-- Balance data of a badge: signed values as a sign character followed by
-- up to nine characters ('+000123', '-12'), and ten texts.
CREATE TABLE O2002TSW (
  TswIdn TEXT COLLATE RTRIM NOT NULL,  -- badge number
  TswW01 TEXT, TswW02 TEXT, TswW03 TEXT, TswW04 TEXT,
  TswW05 TEXT, TswW06 TEXT, TswW07 TEXT, TswW08 TEXT,
  TswW09 TEXT, TswW10 TEXT, TswW11 TEXT, TswW12 TEXT,
  TswW13 TEXT, TswW14 TEXT, TswW15 TEXT, TswW16 TEXT,
  TswF01 TEXT, TswF02 TEXT, TswF03 TEXT, TswF04 TEXT, TswF05 TEXT,
  TswF06 TEXT, TswF07 TEXT, TswF08 TEXT, TswF09 TEXT, TswF10 TEXT
);
CREATE INDEX O2002TSW_Idn ON O2002TSW (TswIdn);

-- Balance display definitions of a balance set, by running number.
CREATE TABLE Xel119Msd (
  MsdSal TEXT COLLATE RTRIM NOT NULL,  -- balance set
  MsdLfd INTEGER NOT NULL,             -- running number, display position 1-8
  MsdSpl INTEGER,                      -- column selector
  MsdTxt TEXT,                         -- own display text (20)
  MsdAnz INTEGER,                      -- display text, entry of list 220001
  MsdWrt INTEGER,                      -- value code, entry of list 220002
  MsdLiz INTEGER,
  MsdMnd INTEGER,
  MsdErf TEXT COLLATE RTRIM,           -- creator
  MsdSta INTEGER
);
CREATE INDEX Xel119Msd_Sal ON Xel119Msd (MsdSal, MsdLfd);

-- Language texts: list FtxNumSpr, entry FtxWhl, language FtxSpr.
CREATE TABLE Xel102Whl (
  FtxNumSpr INTEGER NOT NULL,
  FtxWhl INTEGER NOT NULL,
  FtxSpr INTEGER NOT NULL,
  FtxT10 TEXT,                         -- short text (10)
  FtxT50 TEXT                          -- long text (50)
);
CREATE INDEX Xel102Whl_Entry ON Xel102Whl (FtxNumSpr, FtxWhl, FtxSpr);
